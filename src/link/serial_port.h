#pragma once

#include "link/device_access.h"
#include "link/failure.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>

namespace queltor {

class SettingsStore;

// The port that carries the channel commands: numbered COM1, COM2, ...,
// always 9600 baud, 8 data bits, no parity, 1 stop bit. It only writes.
// Every failure is thrown as Failed, naming the port and its device. A device
// another program holds is never opened (DeviceAccess decides), and while
// the port is open no other program may take the device.
class SerialPort
{
public:
    static constexpr int kLowestPort = 1;
    static constexpr int kHighestPort = 255;

    explicit SerialPort(const SettingsStore &store);
    ~SerialPort();

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Selects the port number for the next open. Only 1..255, and only while closed.
    void setCommPort(int port);
    int commPort() const { return m_commPort; }

    // Opens the numbered port on the device the settings map it to, with the
    // line settings, or closes it. Closing a closed port does nothing.
    void setPortOpen(bool open);
    bool portOpen() const { return m_port.isOpen(); }

    // Opens the numbered port on this device, written as in the settings
    // file, whatever the file says now; nothing while the port is open.
    void openDevice(const QByteArray &written);

    // Hands every byte to the operating system before returning; anything less is
    // a failure and nothing of it stays queued for later.
    void output(const QByteArray &bytes);

    // The open port's file descriptor; -1 while closed.
    int handle() const { return m_port.isOpen() ? static_cast<int>(m_port.handle()) : -1; }

    // The device the current port number maps to, byte for byte as the settings
    // file has it (empty while that cannot be known); the same shown as text;
    // and "COM1 (/dev/ttyS0)" for messages.
    QByteArray devicePath() const;
    QString deviceName() const;
    QString portLabel() const;

    // Where a device written as in the settings file is: a bare name is in /dev.
    static QByteArray location(const QByteArray &written);

private:
    // "COM1 (device) could not be written to: why." and the like, for the port as it stands.
    [[noreturn]] void fail(const QString &what, const QString &why = {},
                           Failure::Cause cause = Failure::Cause::Other) const;
    // "COM1 (device) could not be opened: why. To do." for the device written as in the settings file.
    [[noreturn]] void refuseOpen(const QByteArray &device, const DeviceRefusal &refusal) const;
    void closePort();

    const SettingsStore &m_store;
    QSerialPort m_port;
    DeviceAccess m_access; // held while the port is open
    QString m_qtLockFile;  // the name QSerialPort's own lock file had
    int m_commPort = 1;
    QByteArray m_device; // the open port's device as written; empty while closed
};

} // namespace queltor
