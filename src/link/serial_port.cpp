#include "link/serial_port.h"

#include "link/port_label.h"
#include "link/settings_store.h"
#include "link/settings_text.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <poll.h>
#include <termios.h>

namespace queltor {

namespace {

constexpr qint32 kBaudRate = 9600;
// Five bytes take 5.2 ms at 9600 baud; ten times that is a device that has stopped.
constexpr int kFinishCommandMs = 50;

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

QString couldNotBeOpened() { return QCoreApplication::translate("queltor::SerialPort", "%1 could not be opened"); }
QString couldNotBeWritten() { return QCoreApplication::translate("queltor::SerialPort", "%1 could not be written to"); }

// Where QSerialPort puts the lock file it takes for portName: its own folders,
// in its order, the first it may read and write in.
QString qtLockFilePath(const QString &portName)
{
    static const char *const kFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
                                           "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
    QString name = portName.startsWith(QLatin1String("/dev/")) ? portName.mid(5) : portName;
    name = QStringLiteral("/LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : kFolders) {
        const QFileInfo info(QString::fromLatin1(folder));
        if (info.isReadable() && (QFileInfo::exists(info.filePath() + name) || info.isWritable()))
            return info.filePath() + name;
    }
    return {};
}

} // namespace

SerialPort::SerialPort(const SettingsStore &store)
    : m_store(store)
{
}

SerialPort::~SerialPort() { closePort(); }

void SerialPort::setCommPort(int port)
{
    if (port < kLowestPort || port > kHighestPort) {
        throw Failed(Failure(Failure::Kind::Port,
                             QCoreApplication::translate("queltor::SerialPort",
                                                         "Port number %1 is not available; the ports are %2 to %3.")
                                 .arg(port)
                                 .arg(kLowestPort)
                                 .arg(kHighestPort)));
    }
    if (m_port.isOpen()) {
        throw Failed(Failure(Failure::Kind::Port,
                             QCoreApplication::translate("queltor::SerialPort",
                                                         "The port cannot be changed to %1 while %2 is open.")
                                 .arg(queltor::portLabel(port), portLabel())));
    }
    m_commPort = port;
}

void SerialPort::setPortOpen(bool open)
{
    if (open == m_port.isOpen())
        return;

    if (!open) {
        closePort();
        return;
    }

    const std::optional<QByteArray> mapped = m_store.portDevice(m_commPort);
    if (!mapped)
        fail(couldNotBeOpened(),
             QCoreApplication::translate("queltor::SerialPort",
                                         "the settings file that says which device it is cannot be used"));
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
                   {QCoreApplication::translate("queltor::SerialPort", "its path holds a zero byte, which no path can"),
                    {},
                    {},
                    Failure::Cause::Other});
    DeviceAccess access;
    if (const std::optional<DeviceRefusal> refusal = access.take(location(written)))
        refuseOpen(written, *refusal);

    // QSerialPort opens the device through the descriptor taken, which also
    // reaches a device whose name a QString cannot carry. It takes a lock file
    // of its own, named after the path it opens, and counts another tool's lock
    // as stale when it is not in its own form; under this path's name, which is
    // this process's alone, it meets none. Its file is removed at once, so the
    // device's one lock is ours, in the form every tool reads.
    const QString portName = access.openPath();
    const QString qtLock = qtLockFilePath(portName);
    QFile::remove(qtLock); // left by an earlier process of this number
    m_port.setPortName(portName);
    m_port.setBaudRate(kBaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    // Write-only: the device never answers, and nothing should wait on input.
    if (!m_port.open(QIODevice::WriteOnly)) {
        const QSerialPort::SerialPortError error = m_port.error();
        const QString reason = asClause(m_port.errorString());
        m_port.clearError();
        if (error == QSerialPort::DeviceNotFoundError)
            refuseOpen(written, device_access::deviceMissing());
        refuseOpen(written, {reason, {}, reason, Failure::Cause::Other});
    }
    QFile::remove(qtLock);
    m_qtLockFile = qtLock;
    m_access = std::move(access);
    m_access.excludeOthers();

    // Open can succeed with a side error left behind (TIOCEXCL refused, say);
    // it must not fail the first write.
    m_port.clearError();

    if (!lineSettingsInForce(static_cast<int>(m_port.handle()))) {
        closePort();
        Failure refused(
            Failure::Kind::Port,
            QCoreApplication::translate("queltor::SerialPort",
                                        "%1 could not be set to 9600 baud, 8 data bits, no parity and 1 stop bit")
                .arg(queltor::portLabel(m_commPort, settings_text::forDisplay(written))));
        refused.condition = QCoreApplication::translate("queltor::SerialPort", "it does not take 9600 baud, 8N1");
        throw Failed(refused);
    }
    m_device = written;
}

void SerialPort::closePort()
{
    if (m_port.isOpen()) {
        // QSerialPort removes its lock file as it closes, and complains when it
        // finds none: it finds an empty one.
        if (!m_qtLockFile.isEmpty()) {
            QFile stand(m_qtLockFile);
            stand.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        }
        m_port.close();
    }
    m_port.clearError();
    m_qtLockFile.clear();
    m_access.release();
    m_device.clear();
}

void SerialPort::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        fail(couldNotBeWritten(), QCoreApplication::translate("queltor::SerialPort", "the port is not open"));
    if (bytes.isEmpty())
        return;

    // Refuse before sending anything when the device has stopped taking data,
    // so that it never receives half a command.
    pollfd ready{static_cast<int>(m_port.handle()), POLLOUT, 0};
    if (::poll(&ready, 1, 0) >= 0) {
        if (ready.revents & (POLLERR | POLLHUP | POLLNVAL))
            fail(couldNotBeWritten(), QCoreApplication::translate("queltor::SerialPort", "the device has gone away"),
                 Failure::Cause::DeviceGone);
        if (!(ready.revents & POLLOUT))
            fail(couldNotBeWritten(),
                 QCoreApplication::translate("queltor::SerialPort", "the device is not accepting data"));
    }

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
    Failure::Cause cause = Failure::Cause::Other;
    if (error == QSerialPort::ResourceError) {
        reason = QCoreApplication::translate("queltor::SerialPort", "the device has gone away");
        cause = Failure::Cause::DeviceGone;
    } else if (error == QSerialPort::NoError) {
        reason = QCoreApplication::translate("queltor::SerialPort", "the device is not accepting data");
    } else {
        reason = asClause(qtReason);
    }
    fail(couldNotBeWritten(), reason, cause);
}

QByteArray SerialPort::devicePath() const
{
    return m_port.isOpen() ? m_device : m_store.portDevice(m_commPort).value_or(QByteArray());
}

QString SerialPort::deviceName() const { return settings_text::forDisplay(devicePath()); }

QString SerialPort::portLabel() const { return queltor::portLabel(m_commPort, deviceName()); }

void SerialPort::fail(const QString &what, const QString &why, Failure::Cause cause) const
{
    Failure failure(Failure::Kind::Port, what.arg(portLabel()), why);
    failure.cause = cause;
    throw Failed(failure);
}

void SerialPort::refuseOpen(const QByteArray &device, const DeviceRefusal &refusal) const
{
    Failure failure(Failure::Kind::Port,
                    couldNotBeOpened().arg(queltor::portLabel(m_commPort, settings_text::forDisplay(device))),
                    refusal.why, refusal.todo);
    failure.cause = refusal.cause;
    failure.condition = refusal.condition;
    throw Failed(failure);
}

} // namespace queltor
