#pragma once

#include <QSettings>
#include <QString>

namespace queltor {

// The per-user store of the panel's two choices, plus the optional map from
// port numbers to device paths. Values are kept as text.
class SettingsStore
{
public:
    static inline const QString kChNum = QStringLiteral("ChNum");
    static inline const QString kComPort = QStringLiteral("ComPort");

    SettingsStore();

    // The text stored under key in group Settings, or defaultText when there is none.
    QString read(const QString &key, const QString &defaultText = QStringLiteral("1")) const;

    // Stores text under key in group Settings and syncs it to disk at once.
    // Throws LinkError, naming the file, when the store cannot be written.
    void write(const QString &key, const QString &text);

    // The device for port number n: group Ports, key COMn, if present,
    // else the platform's own name for that port.
    QString portDevice(int port) const;

    static QString defaultPortDevice(int port);

    QString fileName() const { return m_settings.fileName(); }

private:
    mutable QSettings m_settings;
};

} // namespace queltor
