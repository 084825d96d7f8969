#pragma once

#include <QByteArray>
#include <QString>

#include <termios.h>

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

    // Reads up to maxBytes, one byte at a time, until maxBytes arrived or
    // nothing more came for quietMs milliseconds.
    QByteArray read(int maxBytes, int quietMs = 200);

    // Reads whatever arrives within quietMs of silence.
    QByteArray readAll(int quietMs = 100) { return read(1 << 20, quietMs); }

    // The line settings currently in force on the slave side.
    termios slaveSettings() const;

    // Makes the device vanish: the panel's next write fails.
    void closeMaster();

    int masterFd() const { return m_master; }

private:
    int m_master = -1;
    int m_slave = -1; // held open so the master never sees a hang-up between opens
    QString m_slavePath;
};
