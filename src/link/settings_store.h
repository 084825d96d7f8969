#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace queltor {

// The per-user settings file, $XDG_CONFIG_HOME/QUELTOR/QUELTOR.conf: the
// panel's two choices in group Settings, plus the optional map from port
// numbers to device paths in group Ports. The file is the user's: it is read
// afresh each time, and a save changes the one value it is about and no
// other byte. Keys the user's file lacks are looked up in the same file
// under each of $XDG_CONFIG_DIRS, which the panel never writes.
class SettingsStore
{
public:
    static inline const QString kChNum = QStringLiteral("ChNum");
    static inline const QString kComPort = QStringLiteral("ComPort");

    // The user's file under $XDG_CONFIG_HOME, with the read-only fallbacks.
    SettingsStore();
    // Exactly this file, and no fallback: one named on the command line is the whole of a setup.
    explicit SettingsStore(const QString &file);

    // The text stored under key in group Settings, or defaultText when there is none.
    QString read(const QString &key, const QString &defaultText = QStringLiteral("1")) const;
    bool contains(const QString &key) const;

    // Stores text under key in group Settings, on disk before it returns; a
    // text equal to the stored one is not written at all. Throws Failed,
    // saying what could not be written and why, and then nothing is pending.
    void write(const QString &key, const QString &text);

    // Maps port number n to device under group Ports, key COMn, byte for byte:
    // that one value changes, or its line is added. Saved and failing as write() does.
    // A device given for this run only (setRunDevice) gives way to the one saved.
    void writePortDevice(int port, const QByteArray &device);

    // The device for port number n: the one given for this run, else as written
    // under group Ports, key COMn, byte for byte; else the platform's own name
    // for that port. Nothing when a settings file that may map it cannot be
    // used: no device is guessed then.
    std::optional<QByteArray> portDevice(int port) const;

    // Whether a device is named for port n, for this run or under group Ports;
    // false while the file cannot be used.
    bool namesPortDevice(int port) const;

    // Port n leads to device until the program ends, and nothing is written.
    void setRunDevice(int port, const QByteArray &device) { m_runDevices.insert(port, device); }

    static QByteArray defaultPortDevice(int port);

    QString fileName() const { return m_files.first(); }

    // Why the user's file cannot be used, worded to follow "it" ("is larger
    // than 64 KB"); empty when it can. Such a file is read as absent and never written.
    QString flaw() const;

private:
    void save(QByteArrayView group, const QString &key, const QByteArray &value);

    QStringList m_files; // the user's first, then the read-only fallbacks
    QHash<int, QByteArray> m_runDevices;
};

} // namespace queltor
