#pragma once

#include <QByteArray>
#include <QString>

#include <initializer_list>
#include <termios.h>

// What the device should read for these channels, spelt out here rather than
// taken from the panel's own encoder.
inline QByteArray commands(std::initializer_list<int> channels)
{
    QByteArray bytes;
    for (int ch : channels)
        bytes += QStringLiteral("V%1\r\n").arg(ch, 2, 10, QLatin1Char('0')).toLatin1();
    return bytes;
}

// A pseudo-terminal standing in for the device: the panel opens the slave path,
// the test reads what arrives on the master side.
class Pty
{
public:
    Pty();
    ~Pty();

    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Reads up to maxBytes, running the event loop meanwhile, until maxBytes
    // arrived or nothing more came for quietMs milliseconds.
    QByteArray read(int maxBytes, int quietMs = 200);

    // Reads whatever arrives within quietMs of silence.
    QByteArray readAll(int quietMs = 100) { return read(1 << 20, quietMs); }

    // Without the event loop, for measurements: exactly count bytes, sleeping
    // in poll() between pieces; false when they do not all come within timeoutMs.
    bool readExactly(char *buffer, int count, int timeoutMs = 2000);

    // Whatever is waiting on the master now, without waiting for more.
    void drainInto(QByteArray &into);
    QByteArray drain()
    {
        QByteArray all;
        drainInto(all);
        return all;
    }

    // A second handle on the slave, raw at 9600 8N1 as a serial adapter
    // leaves its own: for a writer that is not the panel.
    int rawWriter();

    // The line settings currently in force on the slave side.
    termios slaveSettings() const;

    // Makes the device vanish: the panel's next write fails.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1; // held open so the master never sees a hang-up between opens
    int m_writer = -1;
    QString m_slavePath;
};

// Points the link at target the way udev does: a new link renamed over the
// old one, so a program opening the link never finds it missing.
bool pointLink(const QString &link, const QString &target);
