#include "link/stored_choices.h"

#include "channel/bank.h"
#include "channel/numbers.h"
#include "link/serial_port.h"
#include "link/settings_store.h"

#include <QCoreApplication>

#include <optional>

namespace queltor {

namespace {
constexpr qsizetype kQuotedChars = 40;
} // namespace

StoredChoices readStoredChoices(const SettingsStore &store)
{
    StoredChoices choices;

    if (const QString flaw = store.flaw(); !flaw.isEmpty()) {
        choices.fileUsable = false;
        choices.warnings << QCoreApplication::translate(
                                "queltor::StoredChoices",
                                "The settings file %1 is not used: it %2. 20 channels are shown; no port "
                                "is opened and no choice is saved until the file is mended or removed.")
                                .arg(store.fileName(), flaw);
        return choices;
    }

    const QString chNumText = store.read(SettingsStore::kChNum);
    const std::optional<double> chNum = strictNumber(chNumText);
    if (const std::optional<int> index = chNum ? bank::indexFromSetting(*chNum) : std::nullopt) {
        choices.bankIndex = *index;
        choices.bankStored = store.contains(SettingsStore::kChNum);
    } else {
        choices.warnings << QCoreApplication::translate(
                                "queltor::StoredChoices",
                                "The stored setting ChNum (%1) is not a channel count of 10 to 100; "
                                "20 channels are used instead.")
                                .arg(quotedForMessage(chNumText));
    }

    const QString comPortText = store.read(SettingsStore::kComPort);
    const std::optional<double> comPort = strictNumber(comPortText);
    const std::optional<std::int16_t> port = comPort ? roundToInt16(*comPort) : std::nullopt;
    if (port && *port >= SerialPort::kLowestPort && *port <= SerialPort::kHighestPort) {
        choices.port = *port;
    } else {
        choices.warnings << QCoreApplication::translate(
                                "queltor::StoredChoices",
                                "The stored setting ComPort (%1) is not a port number of 1 to %2; "
                                "COM1 is used instead.")
                                .arg(quotedForMessage(comPortText))
                                .arg(SerialPort::kHighestPort);
    }
    return choices;
}

QString quotedForMessage(const QString &text)
{
    if (text.size() <= kQuotedChars)
        return QLatin1Char('"') + text + QLatin1Char('"');
    // Never half a surrogate pair.
    const qsizetype cut = text.at(kQuotedChars - 1).isHighSurrogate() ? kQuotedChars - 1 : kQuotedChars;
    return QLatin1Char('"') + text.left(cut) + QStringLiteral("…\"");
}

} // namespace queltor
