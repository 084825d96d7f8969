#include "link/serial_port.h"

#include "link/port_lock.h"
#include "link/settings_store.h"
#include "link/settings_text.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace queltor {

namespace {

constexpr qint32 kBaudRate = 9600;
// Five bytes take 5.2 ms at 9600 baud; ten times that is a device that has stopped.
constexpr int kFinishCommandMs = 50;

#ifdef Q_OS_UNIX
// tcsetattr() succeeds when any part of a change was taken, so look at what
// the driver actually holds.
bool lineSettingsInForce(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    return ::cfgetospeed(&tio) == B9600 && (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & PARENB)
        && !(tio.c_cflag & CSTOPB);
}

// Why the user may not open the device, and what to do about it, as a clause.
QString noPermission(const char *device)
{
    struct stat node
    { };
    if (::stat(device, &node) == 0 && node.st_gid != 0 && (node.st_mode & S_IWGRP)) {
        group entry{};
        group *found = nullptr;
        char buffer[4096];
        if (::getgrgid_r(node.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found) {
            const QString name = QString::fromLocal8Bit(found->gr_name);
            return QCoreApplication::translate("queltor::SerialPort",
                                               "you have no permission to use it (add yourself to the %1 group: "
                                               "sudo usermod -aG %1 $USER, then log in again)")
                .arg(name);
        }
    }
    // No group of the device may write to it: joining one would not help.
    return QCoreApplication::translate("queltor::SerialPort",
                                       "you have no permission to use it (ask your administrator for access)");
}
#endif

} // namespace

SerialPort::SerialPort(const SettingsStore &store)
    : m_store(store)
{
}

SerialPort::~SerialPort()
{
    if (m_port.isOpen())
        m_port.close();
}

void SerialPort::setCommPort(int port)
{
    if (port < kLowestPort || port > kHighestPort) {
        throw LinkError(QCoreApplication::translate("queltor::SerialPort",
                                                    "Port number %1 is not available; the ports are %2 to %3.")
                            .arg(port)
                            .arg(kLowestPort)
                            .arg(kHighestPort));
    }
    if (m_port.isOpen()) {
        throw LinkError(
            QCoreApplication::translate("queltor::SerialPort", "The port cannot be changed to COM%1 while %2 is open.")
                .arg(port)
                .arg(portLabel()));
    }
    m_commPort = port;
}

void SerialPort::setPortOpen(bool open)
{
    if (open == m_port.isOpen())
        return;

    if (!open) {
        m_port.close();
        m_port.clearError();
        m_device.clear();
        return;
    }

    const std::optional<QByteArray> mapped = m_store.portDevice(m_commPort);
    if (!mapped)
        fail(QCoreApplication::translate(
            "queltor::SerialPort",
            "could not be opened: the settings file that says which device it is cannot be used."));
    openDevice(*mapped);
}

QByteArray SerialPort::location(const QByteArray &written)
{
    const bool bare = !written.startsWith('/') && !written.startsWith("./") && !written.startsWith("../");
    return bare ? "/dev/" + written : written;
}

void SerialPort::openDevice(const QByteArray &written)
{
    if (m_port.isOpen())
        return;
    // open() would take the path only up to its first zero byte: another path.
    if (written.contains('\0'))
        refuseOpen(written,
                   QCoreApplication::translate("queltor::SerialPort",
                                               "could not be opened: its path holds a zero byte, which no path can."));
#ifdef Q_OS_UNIX
    // QSerialPort names a device with a QString, which cannot carry every byte a
    // path may hold; the device the path leads to, links followed as open()
    // would follow them, is the same port. A bare name is a device in /dev.
    char resolved[PATH_MAX];
    if (!::realpath(location(written).constData(), resolved)) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            refuseMissing(written);
        refuseOpen(
            written,
            QCoreApplication::translate("queltor::SerialPort", "could not be opened: %1.").arg(errnoClause(error)),
            LinkError::Cause::Other, errnoClause(error));
    }
    QString portName = QFile::decodeName(resolved);
    // A device whose own name is not UTF-8 is opened through a descriptor of it.
    int pathFd = -1;
    const auto closePath = qScopeGuard([&pathFd] {
        if (pathFd >= 0)
            ::close(pathFd);
    });
    if (QFile::encodeName(portName) != QByteArrayView(resolved)) {
        pathFd = ::open(resolved, O_PATH | O_CLOEXEC);
        portName = QStringLiteral("/proc/self/fd/%1").arg(pathFd);
    }
    // QSerialPort names its lock file after the path; a name the system cannot
    // take would pass for a port held by another program.
    const qsizetype lockName = QFile::encodeName(port_lock::lockFileName(portName)).size();
    if (lockName > port_lock::kLongestName) {
        refuseOpen(written,
                   QCoreApplication::translate("queltor::SerialPort",
                                               "could not be opened: its path is too long to name a lock file after "
                                               "it (a lock file name may have %1 characters; this one would have "
                                               "%2). Give the device a shorter path.")
                       .arg(port_lock::kLongestName)
                       .arg(lockName),
                   LinkError::Cause::Other,
                   QCoreApplication::translate("queltor::SerialPort", "its path is too long for a lock file"));
    }
#else
    const QString portName = QString::fromUtf8(written);
#endif
    m_port.setPortName(portName);
    m_port.setBaudRate(kBaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    // Write-only: the device never answers, and nothing should wait on input.
    if (!m_port.open(QIODevice::WriteOnly)) {
        const QSerialPort::SerialPortError error = m_port.error();
        const QString qtReason = m_port.errorString();
        m_port.clearError();
        const QFileInfo info(portName);
        if (error == QSerialPort::DeviceNotFoundError || !info.exists())
            refuseMissing(written);
#ifdef Q_OS_UNIX
        if (error == QSerialPort::PermissionError)
            refuseHeld(written, portName, resolved);
#endif
        if (info.isFile() || info.isDir() || error == QSerialPort::UnsupportedOperationError) {
            refuseOpen(written,
                       QCoreApplication::translate("queltor::SerialPort", "could not be opened: %1.")
                           .arg(QCoreApplication::translate("queltor::SerialPort", "it is not a serial port")),
                       LinkError::Cause::Other,
                       QCoreApplication::translate("queltor::SerialPort", "it is not a serial port"));
        }
        refuseOpen(
            written,
            QCoreApplication::translate("queltor::SerialPort", "could not be opened: %1.").arg(asClause(qtReason)),
            LinkError::Cause::Other, asClause(qtReason));
    }

    // Open can succeed with a side error left behind (TIOCEXCL refused, say);
    // it must not fail the first write.
    m_port.clearError();

#ifdef Q_OS_UNIX
    if (!lineSettingsInForce(static_cast<int>(m_port.handle()))) {
        m_port.close();
        m_port.clearError();
        refuseOpen(written,
                   QCoreApplication::translate("queltor::SerialPort",
                                               "could not be set to 9600 baud, 8 data bits, no parity and 1 stop bit."),
                   LinkError::Cause::Other,
                   QCoreApplication::translate("queltor::SerialPort", "it does not take 9600 baud, 8N1"));
    }
#endif
    m_device = written;
}

void SerialPort::refuseMissing(const QByteArray &device) const
{
    refuseOpen(device,
               QCoreApplication::translate("queltor::SerialPort",
                                           "could not be opened: the device does not exist. Plug the device in, "
                                           "or choose it with Set > Serial Port > Choose Device."),
               LinkError::Cause::DeviceMissing,
               QCoreApplication::translate("queltor::SerialPort", "the device does not exist"));
}

#ifdef Q_OS_UNIX
void SerialPort::refuseHeld(const QByteArray &device, const QString &portName, const char *resolved) const
{
    // QSerialPort says "permission" for a lock file in the way, a device held
    // exclusively and a device the user may not use alike.
    const QString lock = port_lock::lockFilePath(portName);
    const std::optional<qint64> locker = lock.isEmpty() ? std::nullopt : port_lock::lockHolder(lock);
    if (locker && !port_lock::processRunning(*locker)) {
        const QString shownLock = QFileInfo(lock).canonicalFilePath().isEmpty() ? lock
                                                                                : QFileInfo(lock).canonicalFilePath();
        refuseOpen(device,
                   QCoreApplication::translate(
                       "queltor::SerialPort",
                       "could not be opened: the lock file %1, left behind by a program that has ended (PID %2), "
                       "is in the way and cannot be removed. Ask your administrator to delete it.")
                       .arg(shownLock)
                       .arg(*locker),
                   LinkError::Cause::Other,
                   QCoreApplication::translate("queltor::SerialPort", "a stale lock file is in the way"));
    }
    const bool lockedByFile = !lock.isEmpty() && QFileInfo::exists(lock);
    if (!lockedByFile && ::access(resolved, W_OK) != 0)
        refuseOpen(
            device,
            QCoreApplication::translate("queltor::SerialPort", "could not be opened: %1.").arg(noPermission(resolved)),
            LinkError::Cause::Other, QCoreApplication::translate("queltor::SerialPort", "no permission to use it"));

    if (const std::optional<qint64> holder = locker ? locker : port_lock::deviceOpener(resolved)) {
        QString program = port_lock::programName(*holder);
        if (program.isEmpty())
            program = QCoreApplication::translate("queltor::SerialPort", "another program");
        refuseOpen(
            device,
            QCoreApplication::translate("queltor::SerialPort",
                                        "could not be opened: the port is in use by %1 (PID %2). Quit that "
                                        "program, then choose the port again in Set > Serial Port.")
                .arg(program)
                .arg(*holder),
            LinkError::Cause::Other,
            QCoreApplication::translate("queltor::SerialPort", "in use by %1 (PID %2)").arg(program).arg(*holder));
    }
    refuseOpen(device,
               QCoreApplication::translate("queltor::SerialPort",
                                           "could not be opened: the port is in use by another program. Quit it, "
                                           "then choose the port again in Set > Serial Port."),
               LinkError::Cause::Other,
               QCoreApplication::translate("queltor::SerialPort", "in use by another program"));
}
#endif

void SerialPort::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        fail(QCoreApplication::translate("queltor::SerialPort", "could not be written to: the port is not open."));
    if (bytes.isEmpty())
        return;

#ifdef Q_OS_UNIX
    // Refuse before sending anything when the device has stopped taking data,
    // so that it never receives half a command.
    pollfd ready{static_cast<int>(m_port.handle()), POLLOUT, 0};
    if (::poll(&ready, 1, 0) >= 0) {
        if (ready.revents & (POLLERR | POLLHUP | POLLNVAL))
            fail(QCoreApplication::translate("queltor::SerialPort",
                                             "could not be written to: the device has gone away."),
                 LinkError::Cause::DeviceGone);
        if (!(ready.revents & POLLOUT))
            fail(QCoreApplication::translate("queltor::SerialPort",
                                             "could not be written to: the device is not accepting data."));
    }
#endif

    const qint64 queued = m_port.write(bytes);
    m_port.flush();
    // A command the system took only part of is finished rather than cut: half a
    // command would spoil the device's next line too, and clearing below would
    // also discard commands the system had already taken.
    const QDeadlineTimer finish(kFinishCommandMs);
    while (queued == bytes.size() && m_port.bytesToWrite() > 0 && m_port.error() == QSerialPort::NoError
           && !finish.hasExpired()) {
        m_port.waitForBytesWritten(static_cast<int>(finish.remainingTime()));
    }
    if (queued == bytes.size() && m_port.bytesToWrite() == 0 && m_port.error() == QSerialPort::NoError) {
        return;
    }

    const QSerialPort::SerialPortError error = m_port.error();
    const QString qtReason = m_port.errorString();
    // Whatever did not reach the system now would go out later, out of turn.
    m_port.clear(QSerialPort::Output);
    m_port.clearError();

    QString reason;
    LinkError::Cause cause = LinkError::Cause::Other;
    if (error == QSerialPort::ResourceError) {
        reason = QCoreApplication::translate("queltor::SerialPort", "the device has gone away");
        cause = LinkError::Cause::DeviceGone;
    } else if (error == QSerialPort::NoError) {
        reason = QCoreApplication::translate("queltor::SerialPort", "the device is not accepting data");
    } else {
        reason = asClause(qtReason);
    }
    fail(QCoreApplication::translate("queltor::SerialPort", "could not be written to: %1.").arg(reason), cause);
}

QByteArray SerialPort::devicePath() const
{
    return m_port.isOpen() ? m_device : m_store.portDevice(m_commPort).value_or(QByteArray());
}

QString SerialPort::deviceName() const { return settings_text::forDisplay(devicePath()); }

QString SerialPort::portLabel() const
{
    const QString device = deviceName();
    return device.isEmpty() ? QStringLiteral("COM%1").arg(m_commPort)
                            : QStringLiteral("COM%1 (%2)").arg(m_commPort).arg(device);
}

void SerialPort::fail(const QString &what, LinkError::Cause cause) const
{
    throw LinkError(portLabel() + QLatin1Char(' ') + what, cause);
}

void SerialPort::refuseOpen(const QByteArray &device, const QString &what, LinkError::Cause cause,
                            const QString &condition) const
{
    const QString shown = settings_text::forDisplay(device);
    const QString label = shown.isEmpty() ? QStringLiteral("COM%1").arg(m_commPort)
                                          : QStringLiteral("COM%1 (%2)").arg(m_commPort).arg(shown);
    throw LinkError(label + QLatin1Char(' ') + what, cause, condition);
}

} // namespace queltor
