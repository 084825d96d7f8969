#include "link/settings_store.h"

#include "link/link_error.h"

#include <QStringList>
#include <QVariant>

namespace queltor {

namespace {

const QString kOrganization = QStringLiteral("QUELTOR");
const QString kApplication = QStringLiteral("QUELTOR");

QString settingsKey(const QString &key) { return QStringLiteral("Settings/") + key; }

} // namespace

SettingsStore::SettingsStore()
    : m_settings(kOrganization, kApplication)
{
}

QString SettingsStore::read(const QString &key, const QString &defaultText) const
{
    // A damaged or unreadable file has simply lost its keys: QSettings reads
    // what it can and reports the rest as absent.
    const QVariant value = m_settings.value(settingsKey(key));
    if (!value.isValid())
        return defaultText;
    // A hand-edited "1, 2" comes back split at the comma; give the text back whole.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void SettingsStore::write(const QString &key, const QString &text)
{
    // A fresh QSettings per write: status() never resets, so a stale error
    // from an earlier read or write must not decide this one.
    QSettings settings(kOrganization, kApplication);
    settings.setValue(settingsKey(key), text);
    settings.sync();

    QSettings::Status status = settings.status();
    if (status == QSettings::FormatError) {
        // The damaged file was read before the write and that error sticks;
        // whether the write itself got through shows in a second look, which
        // retries any change still pending and fails the same way if it cannot.
        status = QSettings(kOrganization, kApplication).status();
    }
    if (status == QSettings::NoError)
        return;

    throw LinkError(QStringLiteral("The setting %1 could not be saved to %2: the file cannot be written.")
                        .arg(key, settings.fileName()));
}

QString SettingsStore::portDevice(int port) const
{
    const QString mapped = m_settings.value(QStringLiteral("Ports/COM%1").arg(port)).toString().trimmed();
    return mapped.isEmpty() ? defaultPortDevice(port) : mapped;
}

QString SettingsStore::defaultPortDevice(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

} // namespace queltor
