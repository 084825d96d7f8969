#include "channel/bank.h"

#include "channel/command.h"
#include "channel/numbers.h"

namespace queltor::bank {

QString buttonCaption(int button) { return QStringLiteral("CH ") + channelDisplayText(button); }

QStringList listItems(int index)
{
    QStringList items;
    const int count = channelCount(index);
    items.reserve(count);
    for (int i = 0; i < count; ++i)
        items.append(QString::number(i));
    return items;
}

std::optional<int> indexFromSetting(double storedNumber)
{
    const auto count = roundToInt16((storedNumber + 1) * 10);
    if (!count)
        return std::nullopt;
    const auto index = roundToInt16(*count / 10.0 - 1);
    if (!index || !isIndex(*index))
        return std::nullopt;
    return *index;
}

} // namespace queltor::bank
