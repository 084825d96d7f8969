#include "link/link.h"

#include "link/device_watch.h"
#include "link/failure.h"
#include "link/port_label.h"
#include "link/settings_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <termios.h>

namespace queltor {

namespace {

std::vector<Link *> &allLinks()
{
    static std::vector<Link *> links;
    return links;
}

// The port labelled, what befell it, and that the panel needs no help to reconnect.
Failure deviceGone(const QString &what)
{
    Failure gone(Failure::Kind::Port, what, QCoreApplication::translate("queltor::Link", "the device has gone away"),
                 QCoreApplication::translate("queltor::Link",
                                             "The panel reconnects by itself when the device is back."));
    gone.cause = Failure::Cause::DeviceGone;
    gone.condition = QCoreApplication::translate("queltor::Link", "unplugged");
    return gone;
}

// Whether the device at path is the one open as fd.
bool pathLeadsTo(const QByteArray &path, int fd)
{
    struct stat named
    { };
    struct stat open
    { };
    if (::stat(path.constData(), &named) != 0)
        return false;
    return ::fstat(fd, &open) != 0 || (named.st_rdev == open.st_rdev && named.st_ino == open.st_ino);
}

} // namespace

QString LinkState::portName() const { return portLabel(port); }

QString LinkState::condition() const
{
    switch (kind) {
    case Kind::Connected:
        return QCoreApplication::translate("queltor::Link", "connected");
    case Kind::Waiting:
        return lost
            ? QCoreApplication::translate("queltor::Link", "not connected: %1; reconnects when it is back").arg(reason)
            : QCoreApplication::translate("queltor::Link", "not connected: %1; connects when it is plugged in")
                  .arg(reason);
    case Kind::Closed:
        break;
    }
    return reason.isEmpty() ? QCoreApplication::translate("queltor::Link", "not connected")
                            : QCoreApplication::translate("queltor::Link", "not connected: %1").arg(reason);
}

QString LinkState::text() const
{
    QStringList parts{portName()};
    if (!device.isEmpty())
        parts << device;
    parts << condition();
    return parts.join(QStringLiteral(" · "));
}

Link::Link(const SettingsStore &store, QObject *parent)
    : QObject(parent)
    , m_port(store)
    , m_watcher(new QFileSystemWatcher(this))
    , m_poll(new QTimer(this))
{
    // The list first: registered after it was made, the hook runs before it is destroyed.
    allLinks().push_back(this);
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(&Link::closeAll); });

    m_poll->setInterval(kWaitPollMs);
    connect(m_poll, &QTimer::timeout, this, &Link::lookAgain);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &Link::lookAgain);
    m_state.port = m_port.commPort();
    m_state.device = m_port.deviceName();
}

Link::~Link()
{
    std::vector<Link *> &links = allLinks();
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
    stopWatching();
}

void Link::closeAll()
{
    for (Link *link : allLinks())
        link->m_port.setPortOpen(false);
}

void Link::setCommPort(int port)
{
    m_port.setCommPort(port);
    if (m_state.port == port)
        return;
    // Another port: whatever was waited for on the last one is no longer wanted.
    stopWatching();
    becomeClosed({});
}

void Link::setPortOpen(bool open)
{
    if (!open) {
        const bool wasClosed = m_state.kind == LinkState::Kind::Closed && !m_port.portOpen();
        stopWatching();
        m_port.setPortOpen(false);
        if (!wasClosed)
            becomeClosed({});
        return;
    }
    if (m_port.portOpen())
        return;
    stopWatching();
    try {
        m_port.setPortOpen(true);
    } catch (const Failed &e) {
        if (e.failure().cause == Failure::Cause::DeviceMissing)
            becomeWaiting(m_port.devicePath(), e.failure().condition, false);
        else
            becomeClosed(e.failure().condition);
        throw;
    }
    becomeConnected();
}

void Link::output(const QByteArray &bytes)
{
    if (m_state.kind == LinkState::Kind::Waiting && m_state.lost)
        throw Failed(m_loss);
    // A port that could not be opened says why, to a click as to a script.
    if (!m_port.portOpen() && !m_state.reason.isEmpty()) {
        Failure notOpen(Failure::Kind::Port,
                        QCoreApplication::translate("queltor::Link", "%1 could not be written to").arg(portLabel()),
                        QCoreApplication::translate("queltor::Link", "the port is not open: %1").arg(m_state.reason));
        notOpen.condition = m_state.reason;
        throw Failed(notOpen);
    }
    try {
        m_port.output(bytes);
    } catch (const Failed &e) {
        if (e.failure().cause != Failure::Cause::DeviceGone)
            throw;
        // Told at once by the write's own failure: nothing more to announce.
        loseDevice(false);
        throw Failed(m_loss);
    }
}

QByteArray Link::devicePath() const
{
    return m_state.kind == LinkState::Kind::Waiting ? m_waitFor : m_port.devicePath();
}

QString Link::deviceName() const { return settings_text::forDisplay(devicePath()); }

QString Link::portLabel() const { return queltor::portLabel(commPort(), deviceName()); }

void Link::becomeConnected()
{
    m_loss = {};
    m_state = LinkState{LinkState::Kind::Connected, commPort(), m_port.deviceName(), {}, false};
    // A hang-up shows on the descriptor as readable; the device never sends
    // anything, so this wakes the panel for nothing else.
    m_hangUp = new QSocketNotifier(m_port.handle(), QSocketNotifier::Read, this);
    connect(m_hangUp, &QSocketNotifier::activated, this, &Link::readHangUp);
    watchPath(m_port.devicePath());
    announce();
}

void Link::becomeWaiting(const QByteArray &device, const QString &reason, bool lost)
{
    m_waitFor = device;
    m_state = LinkState{LinkState::Kind::Waiting, commPort(), settings_text::forDisplay(device), reason, lost};
    watchPath(device);
    m_poll->start();
    announce();
}

void Link::becomeClosed(const QString &reason)
{
    m_state = LinkState{LinkState::Kind::Closed, commPort(), m_port.deviceName(), reason, false};
    announce();
}

void Link::stopWatching()
{
    m_poll->stop();
    if (const QStringList watched = m_watcher->directories(); !watched.isEmpty())
        m_watcher->removePaths(watched);
    if (m_hangUp) {
        // It may be the notifier whose signal is being handled.
        m_hangUp->setEnabled(false);
        m_hangUp->deleteLater();
        m_hangUp = nullptr;
    }
}

// The folder the device's path is in, or the nearest one above it that
// exists: a change there is the path coming or going.
void Link::watchPath(const QByteArray &device)
{
    watchFolder(*m_watcher, QFileInfo(QFile::decodeName(SerialPort::location(device))).absolutePath());
}

void Link::lookAgain()
{
    if (m_state.kind == LinkState::Kind::Connected) {
        if (!pathLeadsTo(SerialPort::location(m_port.devicePath()), m_port.handle()))
            loseDevice(true);
        return;
    }
    if (m_state.kind != LinkState::Kind::Waiting)
        return;
    try {
        m_port.openDevice(m_waitFor);
    } catch (const Failed &e) {
        const QString reason = e.failure().cause == Failure::Cause::DeviceMissing && m_state.lost
            ? QCoreApplication::translate("queltor::Link", "unplugged")
            : e.failure().condition;
        if (reason != m_state.reason) {
            m_state.reason = reason;
            announce();
        }
        watchPath(m_waitFor); // the nearest folder may have come or gone
        return;
    }
    stopWatching();
    becomeConnected();
}

void Link::readHangUp()
{
    const int fd = m_port.handle();
    pollfd state{fd, POLLIN, 0};
    if (fd < 0 || ::poll(&state, 1, 0) <= 0)
        return;
    if (state.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        loseDevice(true);
        return;
    }
    // Whatever the device sent is not for us, and would keep the descriptor readable.
    ::tcflush(fd, TCIFLUSH);
}

void Link::loseDevice(bool tell)
{
    const QByteArray device = m_port.devicePath();
    const QString label = portLabel();
    m_loss = deviceGone(QCoreApplication::translate("queltor::Link", "%1 could not be written to").arg(label));
    stopWatching();
    m_port.setPortOpen(false);
    becomeWaiting(device, m_loss.condition, true);
    if (tell)
        emit failed(deviceGone(QCoreApplication::translate("queltor::Link", "%1 was closed").arg(label)));
}

void Link::announce() { emit stateChanged(m_state); }

} // namespace queltor
