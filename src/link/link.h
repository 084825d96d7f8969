#pragma once

#include "link/failure.h"
#include "link/serial_port.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;

namespace queltor {

class SettingsStore;

// What the link announces: the port, its device, and whether it is connected.
struct LinkState
{
    enum class Kind {
        Closed,    // not connected because of reason; opened again only when asked
        Connected, // open on the device
        Waiting,   // not connected because of reason; opened again by itself once the device is back
    };
    Kind kind = Kind::Closed;
    int port = 1;
    QString device;    // as shown; empty while unknown
    QString reason;    // why not connected, as a clause; may be empty
    bool lost = false; // waiting for a device that went away, rather than one never opened

    QString portName() const;  // "COM1"
    QString condition() const; // "connected", "not connected: unplugged; reconnects when it is back"
    QString text() const;      // "COM1 · /dev/ttyUSB0 · connected"
};

// comScan: the serial port as the window uses it, plus what happens to it by
// itself. It owns the port and announces every change of state through
// stateChanged: connected to a device; not connected, and why; waiting for a
// device to come back. A device that goes away (a write finds it hung up, the
// port's descriptor hangs up, its path disappears) is closed at once, which
// releases its lock, and the link waits for the same path to lead to a device
// again, then reopens it with the same settings. While connected and idle it
// arms no timer; while waiting it looks at most 1000 / kWaitPollMs times a
// second besides every change to the path's folder.
//
// The calls are SerialPort's and throw Failed where a handler must know at
// once; an open of a device that does not exist, and a write that finds the
// device gone, leave the link waiting and still throw. A device that goes
// away while nothing is written is told through failed(), once.
class Link : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWaitPollMs = 500;

    explicit Link(const SettingsStore &store, QObject *parent = nullptr);
    ~Link() override;

    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    void setCommPort(int port);
    int commPort() const { return m_port.commPort(); }
    void setPortOpen(bool open);
    bool portOpen() const { return m_port.portOpen(); }
    void output(const QByteArray &bytes);
    QByteArray devicePath() const;
    QString deviceName() const;
    QString portLabel() const;

    const LinkState &state() const { return m_state; }

    // Closes the port of every link there is, for a way out that skips the
    // destructors (exit() when the X connection is lost): registered with atexit.
    static void closeAll();

signals:
    void stateChanged(const queltor::LinkState &state);
    // The device went away by itself, between writes; emitted after the state it left.
    void failed(const queltor::Failure &failure);

private:
    void becomeConnected();
    void becomeWaiting(const QByteArray &device, const QString &reason, bool lost);
    void becomeClosed(const QString &reason);
    void stopWatching();
    void watchPath(const QByteArray &device);
    void lookAgain();
    void readHangUp();
    void loseDevice(bool tell);
    void announce();

    SerialPort m_port;
    LinkState m_state;
    QByteArray m_waitFor; // the device waited for, as written
    Failure m_loss;       // what a write says while waiting for a device that went away
    QSocketNotifier *m_hangUp = nullptr;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_poll = nullptr;
};

} // namespace queltor

Q_DECLARE_METATYPE(queltor::LinkState)
