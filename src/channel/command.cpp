#include "channel/command.h"

#include "channel/numbers.h"

namespace queltor {

QByteArray channelCommand(int channel)
{
    Q_ASSERT(isChannel(channel));
    const QString prefix = channel >= 10 ? QStringLiteral("V") : QStringLiteral("V0");
    return (prefix + decimalText(channel)).toLatin1() + "\r\n";
}

QString channelDisplayText(int channel)
{
    Q_ASSERT(isChannel(channel));
    return channel >= 10 ? decimalText(channel) : QLatin1Char('0') + decimalText(channel);
}

} // namespace queltor
