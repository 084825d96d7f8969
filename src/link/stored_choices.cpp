#include "link/stored_choices.h"

#include "channel/bank.h"
#include "channel/numbers.h"
#include "link/port_label.h"
#include "link/serial_port.h"
#include "link/settings_store.h"

#include <QCoreApplication>

#include <optional>

namespace queltor {

namespace {

constexpr qsizetype kQuotedChars = 40;

QString notUsed(const QString &key, const QString &text)
{
    return QCoreApplication::translate("queltor::StoredChoices", "The stored setting %1 (%2) is not used")
        .arg(key, quotedForMessage(text));
}

} // namespace

StoredChoices readStoredChoices(const SettingsStore &store)
{
    StoredChoices choices;

    if (const QString flaw = store.flaw(); !flaw.isEmpty()) {
        choices.fileUsable = false;
        choices.failures << Failure(
            Failure::Kind::SettingsFile,
            QCoreApplication::translate("queltor::StoredChoices", "The settings file %1 is not used")
                .arg(store.fileName()),
            QCoreApplication::translate("queltor::StoredChoices", "it %1").arg(flaw),
            QCoreApplication::translate("queltor::StoredChoices",
                                        "20 channels are shown; no port is opened and no choice is saved until the "
                                        "file is mended or removed."));
        return choices;
    }

    const QString chNumText = store.read(SettingsStore::kChNum);
    const std::optional<double> chNum = strictNumber(chNumText);
    if (const std::optional<int> index = chNum ? bank::indexFromSetting(*chNum) : std::nullopt) {
        choices.bankIndex = *index;
        choices.bankStored = store.contains(SettingsStore::kChNum);
    } else {
        choices.failures << Failure(Failure::Kind::StoredCount, notUsed(SettingsStore::kChNum, chNumText),
                                    QCoreApplication::translate("queltor::StoredChoices",
                                                                "it is not a channel count of 10 to 100"),
                                    QCoreApplication::translate("queltor::StoredChoices",
                                                                "20 channels are used instead."));
    }

    const QString comPortText = store.read(SettingsStore::kComPort);
    const std::optional<double> comPort = strictNumber(comPortText);
    const std::optional<std::int16_t> port = comPort ? roundToInt16(*comPort) : std::nullopt;
    if (port && *port >= SerialPort::kLowestPort && *port <= SerialPort::kHighestPort) {
        choices.port = *port;
    } else {
        choices.failures << Failure(
            Failure::Kind::StoredPort, notUsed(SettingsStore::kComPort, comPortText),
            QCoreApplication::translate("queltor::StoredChoices", "it is not a port number of 1 to %1")
                .arg(SerialPort::kHighestPort),
            QCoreApplication::translate("queltor::StoredChoices", "%1 is used instead.").arg(portLabel(choices.port)));
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
