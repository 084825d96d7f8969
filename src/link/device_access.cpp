#include "link/device_access.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace queltor {

namespace device_access {

namespace {

constexpr qint64 kSmallFileLimit = 4096; // far more than any lock file holds
// A lock file that changes under every look is being fought over: the device is busy.
constexpr int kLockAttempts = 5;

struct SmallFile
{
    bool exists = false;
    QByteArray text;
    ino_t inode = 0;
};

// Reads a lock file without following a link in its place.
SmallFile readSmallFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {errno != ENOENT && errno != ENOTDIR, {}, 0};
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    SmallFile file{true, {}, 0};
    struct stat status
    { };
    if (::fstat(fd, &status) == 0)
        file.inode = status.st_ino;
    char buffer[kSmallFileLimit];
    ssize_t n = 0;
    while (file.text.size() < kSmallFileLimit
           && (n = ::read(fd, buffer, std::size_t(kSmallFileLimit - file.text.size()))) > 0)
        file.text.append(buffer, n);
    return file;
}

QString programOf(qint64 pid)
{
    const QByteArray proc = "/proc/" + QByteArray::number(pid) + '/';
    // The command as started names the program best; comm is cut to 15 characters.
    const QByteArray command = readSmallFile(proc + "cmdline").text;
    const QByteArray first = command.left(command.indexOf('\0'));
    if (!first.isEmpty())
        return QFileInfo(QFile::decodeName(first)).fileName();
    return QString::fromLocal8Bit(readSmallFile(proc + "comm").text).trimmed();
}

// The program a lock file names besides its process: HDB's second word, or QLockFile's second line.
QString programInLock(QByteArrayView text)
{
    const qsizetype end = text.indexOf('\n');
    const QList<QByteArray> words = text.first(end < 0 ? text.size() : end).toByteArray().simplified().split(' ');
    if (words.size() > 1)
        return QString::fromLocal8Bit(words.at(1));
    if (end < 0)
        return {};
    const QByteArrayView rest = text.sliced(end + 1);
    return QString::fromLocal8Bit(rest.first(rest.indexOf('\n') < 0 ? rest.size() : rest.indexOf('\n'))).trimmed();
}

DeviceHolder holderOf(qint64 pid, DeviceHolder::Means means, QByteArrayView lockText = {})
{
    QString program = programOf(pid);
    if (program.isEmpty())
        program = programInLock(lockText);
    if (program.isEmpty())
        program = QCoreApplication::translate("queltor::SerialPort", "another program");
    return {pid, program, means};
}

// The process holding flock() on the file at node, from /proc/locks.
std::optional<qint64> flockHolder(const QByteArray &node)
{
    struct stat device
    { };
    if (::stat(node.constData(), &device) != 0)
        return std::nullopt;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; a waiter's line has "->".
    const QList<QByteArray> lines = readSmallFile("/proc/locks").text.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK")
            continue;
        const QList<QByteArray> place = fields.at(5).split(':');
        bool pidOk = false;
        bool majorOk = false;
        bool minorOk = false;
        bool inodeOk = false;
        const qint64 pid = fields.at(4).toLongLong(&pidOk);
        if (place.size() != 3 || !pidOk)
            continue;
        const unsigned deviceMajor = place.at(0).toUInt(&majorOk, 16);
        const unsigned deviceMinor = place.at(1).toUInt(&minorOk, 16);
        const qulonglong inode = place.at(2).toULongLong(&inodeOk);
        if (majorOk && minorOk && inodeOk && deviceMajor == major(device.st_dev) && deviceMinor == minor(device.st_dev)
            && inode == device.st_ino)
            return pid;
    }
    return std::nullopt;
}

// A process other than this one that has the device at node open, from
// /proc/*/fd (only the processes this user may look into).
std::optional<qint64> deviceOpener(const QByteArray &node)
{
    struct stat device
    { };
    if (::stat(node.constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return std::nullopt;
    const qint64 self = ::getpid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &process : processes) {
        bool numeric = false;
        const qint64 pid = process.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList entries = QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            struct stat open
            { };
            if (::stat(QFile::encodeName(fds + QLatin1Char('/') + fd).constData(), &open) == 0 && S_ISCHR(open.st_mode)
                && open.st_rdev == device.st_rdev)
                return pid;
        }
    }
    return std::nullopt;
}

// The device path leads to, links followed; empty, with errno set, when it leads nowhere.
QByteArray realPath(const QByteArray &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : QByteArray();
}

QString userName()
{
    passwd entry{};
    passwd *found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(::geteuid());
}

DeviceRefusal couldNotOpen(const QString &clause) { return {clause, {}, clause}; }

DeviceRefusal inUse(const std::optional<DeviceHolder> &holder)
{
    if (!holder) {
        return {QCoreApplication::translate("queltor::SerialPort", "the port is in use by another program"),
                QCoreApplication::translate("queltor::SerialPort",
                                            "Quit it, then choose the port again in Set > Serial Port."),
                QCoreApplication::translate("queltor::SerialPort", "in use by another program")};
    }
    return {QCoreApplication::translate("queltor::SerialPort", "the port is in use by %1 (PID %2)")
                .arg(holder->program)
                .arg(holder->pid),
            QCoreApplication::translate("queltor::SerialPort",
                                        "Quit that program, then choose the port again in Set > Serial Port."),
            QCoreApplication::translate("queltor::SerialPort", "in use by %1 (PID %2)")
                .arg(holder->program)
                .arg(holder->pid)};
}

// Why the user may not open the device, and what to do about it, as a clause.
QString noPermission(const QByteArray &node)
{
    struct stat status
    { };
    if (::stat(node.constData(), &status) == 0 && status.st_gid != 0 && (status.st_mode & S_IWGRP)) {
        group entry{};
        group *found = nullptr;
        char buffer[4096];
        if (::getgrgid_r(status.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found) {
            return QCoreApplication::translate(
                       "queltor::SerialPort",
                       "you have no permission to use it (add yourself to the %1 group: sudo usermod -aG %1 $USER, "
                       "then log in again)")
                .arg(QString::fromLocal8Bit(found->gr_name));
        }
    }
    // No group of the device may write to it: joining one would not help.
    return QCoreApplication::translate("queltor::SerialPort",
                                       "you have no permission to use it (ask your administrator for access)");
}

DeviceRefusal openFailed(const QByteArray &node, int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return deviceMissing();
    case EACCES:
    case EPERM:
        return {noPermission(node), {}, QCoreApplication::translate("queltor::SerialPort", "no permission to use it")};
    case EBUSY: // in exclusive mode for another program
        if (const std::optional<qint64> opener = deviceOpener(node))
            return inUse(holderOf(*opener, DeviceHolder::Means::Open));
        return inUse(std::nullopt);
    default:
        return couldNotOpen(errnoClause(error));
    }
}

enum class Look { Free, Refused };

// What the lock file at lockPath says of the device: free (no lock, or a
// stale one now removed), or refused, and why.
Look examine(const QByteArray &lockPath, std::optional<DeviceRefusal> *refusal)
{
    const SmallFile lock = readSmallFile(lockPath);
    if (!lock.exists)
        return Look::Free;
    const QString shown = QFile::decodeName(lockPath);
    const std::optional<qint64> pid = lockFilePid(lock.text);
    if (!pid) {
        // Being written this very moment, or not a lock file of any tool we know.
        *refusal = DeviceRefusal{QCoreApplication::translate("queltor::SerialPort",
                                                             "the lock file %1 is in the way and names no program")
                                     .arg(shown),
                                 QCoreApplication::translate("queltor::SerialPort",
                                                             "If no program uses the device, delete the lock file."),
                                 QCoreApplication::translate("queltor::SerialPort", "a lock file is in the way")};
        return Look::Refused;
    }
    if (processRunning(*pid)) {
        *refusal = inUse(holderOf(*pid, DeviceHolder::Means::LockFile, lock.text));
        return Look::Refused;
    }
    // Stale. Removed only while it is still the file just read: another tool may
    // have replaced it meanwhile.
    struct stat now
    { };
    if (::lstat(lockPath.constData(), &now) != 0 || now.st_ino != lock.inode || ::unlink(lockPath.constData()) == 0
        || errno == ENOENT)
        return Look::Free;
    *refusal = DeviceRefusal{
        QCoreApplication::translate("queltor::SerialPort",
                                    "the lock file %1, left behind by a program that has ended (PID %2), is in the way "
                                    "and cannot be removed")
            .arg(shown)
            .arg(*pid),
        QCoreApplication::translate("queltor::SerialPort", "Ask your administrator to delete it."),
        QCoreApplication::translate("queltor::SerialPort", "a stale lock file is in the way")};
    return Look::Refused;
}

enum class Write { Written, Taken, Impossible };

// Writes our lock file whole or not at all: a file of its own first, then
// linked under the lock's name, which fails when another tool got there first.
Write writeLock(const QByteArray &lockPath)
{
    QByteArray temporary = QFileInfo(QFile::decodeName(lockPath)).absolutePath().toLocal8Bit() + "/LTMP.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Write::Impossible;
    const auto removeTemporary = qScopeGuard([&temporary] { ::unlink(temporary.constData()); });
    const QByteArray text = lockFileText(::getpid(), QByteArrayView(program_invocation_short_name),
                                         userName().toLocal8Bit());
    // Other users' tools read it to see whose it is.
    const bool whole = ::fchmod(fd, 0644) == 0
        && ::write(fd, text.constData(), std::size_t(text.size())) == text.size();
    if (::close(fd) != 0 || !whole)
        return Write::Impossible;
    if (::link(temporary.constData(), lockPath.constData()) == 0)
        return Write::Written;
    return errno == EEXIST ? Write::Taken : Write::Impossible;
}

} // namespace

QByteArray lockFolder()
{
    for (const char *folder : {"/run/lock", "/var/lock"}) {
        struct stat status
        { };
        if (::stat(folder, &status) == 0 && S_ISDIR(status.st_mode))
            return folder;
    }
    return {};
}

QByteArray lockFileName(const QByteArray &path)
{
    QByteArray name = path.startsWith("/dev/") ? path.mid(5) : path;
    return "LCK.." + name.replace('/', '_');
}

QByteArray lockFilePath(const QByteArray &path)
{
    const QByteArray node = realPath(path);
    const QByteArray folder = lockFolder();
    if (node.isEmpty() || folder.isEmpty())
        return {};
    return folder + '/' + lockFileName(node);
}

std::optional<qint64> lockFilePid(QByteArrayView text)
{
    const qsizetype end = text.indexOf('\n');
    const QByteArray line = text.first(end < 0 ? text.size() : end).toByteArray().trimmed();
    qsizetype digits = 0;
    while (digits < line.size() && line.at(digits) >= '0' && line.at(digits) <= '9')
        ++digits;
    // At most ten digits, as HDB pads them; then the line ends or a word follows.
    if (digits == 0 || digits > 10 || (digits < line.size() && line.at(digits) != ' ' && line.at(digits) != '\t'))
        return std::nullopt;
    const qint64 pid = line.first(digits).toLongLong();
    if (pid <= 0 || pid != static_cast<pid_t>(pid))
        return std::nullopt;
    return pid;
}

QByteArray lockFileText(qint64 pid, QByteArrayView program, QByteArrayView user)
{
    // One word each: a reader splits the line at blanks.
    const auto word = [](QByteArrayView text) {
        QByteArray out = text.toByteArray();
        for (char &c : out) {
            if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
                c = '_';
        }
        return out.isEmpty() ? QByteArray("-") : out;
    };
    return QByteArray::number(pid).rightJustified(10, ' ') + ' ' + word(program) + ' ' + word(user) + '\n';
}

bool processRunning(qint64 pid)
{
    if (pid <= 0 || pid != static_cast<pid_t>(pid))
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::optional<DeviceHolder> deviceHolder(const QByteArray &path)
{
    const QByteArray node = realPath(path);
    if (node.isEmpty())
        return std::nullopt;
    if (const QByteArray folder = lockFolder(); !folder.isEmpty()) {
        for (const QByteArray &name : {lockFileName(node), lockFileName(path)}) {
            const SmallFile lock = readSmallFile(folder + '/' + name);
            const std::optional<qint64> pid = lockFilePid(lock.text);
            if (pid && processRunning(*pid))
                return holderOf(*pid, DeviceHolder::Means::LockFile, lock.text);
        }
    }
    if (const std::optional<qint64> pid = flockHolder(node); pid && processRunning(*pid))
        return holderOf(*pid, DeviceHolder::Means::Flock);
    if (const std::optional<qint64> pid = deviceOpener(node))
        return holderOf(*pid, DeviceHolder::Means::Open);
    return std::nullopt;
}

DeviceRefusal deviceMissing()
{
    const QString why = QCoreApplication::translate("queltor::SerialPort", "the device does not exist");
    return {why,
            QCoreApplication::translate("queltor::SerialPort",
                                        "Plug the device in, or choose it with Set > Serial Port > Choose Device."),
            why, Failure::Cause::DeviceMissing};
}

} // namespace device_access

using namespace device_access;

DeviceAccess::~DeviceAccess() { release(); }

DeviceAccess::DeviceAccess(DeviceAccess &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_node(std::exchange(other.m_node, {}))
    , m_lockFile(std::exchange(other.m_lockFile, {}))
{
}

DeviceAccess &DeviceAccess::operator=(DeviceAccess &&other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_node = std::exchange(other.m_node, {});
        m_lockFile = std::exchange(other.m_lockFile, {});
    }
    return *this;
}

std::optional<DeviceRefusal> DeviceAccess::take(const QByteArray &path)
{
    release();
    const QByteArray node = realPath(path);
    if (node.isEmpty())
        return errno == ENOENT || errno == ENOTDIR ? deviceMissing() : couldNotOpen(errnoClause(errno));
    const QByteArray name = lockFileName(node);
    if (name.size() > kLongestName) {
        return DeviceRefusal{
            QCoreApplication::translate("queltor::SerialPort",
                                        "its path is too long to name a lock file after it (a lock file name may have "
                                        "%1 characters; this one would have %2)")
                .arg(kLongestName)
                .arg(name.size()),
            QCoreApplication::translate("queltor::SerialPort", "Give the device a shorter path."),
            QCoreApplication::translate("queltor::SerialPort", "its path is too long for a lock file")};
    }
    struct stat status
    { };
    if (::stat(node.constData(), &status) != 0)
        return openFailed(node, errno);
    if (!S_ISCHR(status.st_mode))
        return couldNotOpen(QCoreApplication::translate("queltor::SerialPort", "it is not a serial port"));

    // Whatever fails from here gives back what was taken.
    auto giveBack = qScopeGuard([this] { release(); });
    std::optional<DeviceRefusal> refusal;
    if (const QByteArray folder = lockFolder(); !folder.isEmpty()) {
        // A tool that reached the device through the same link may have named its lock after the link.
        const QByteArray asWritten = lockFileName(path);
        if (asWritten != name && asWritten.size() <= kLongestName
            && examine(folder + '/' + asWritten, &refusal) == Look::Refused)
            return refusal;
        const QByteArray lockPath = folder + '/' + name;
        bool settled = false;
        for (int attempt = 0; attempt < kLockAttempts && !settled; ++attempt) {
            if (examine(lockPath, &refusal) == Look::Refused)
                return refusal;
            switch (writeLock(lockPath)) {
            case Write::Written:
                m_lockFile = lockPath;
                settled = true;
                break;
            case Write::Impossible: // not ours to write: flock() and exclusive mode alone
                settled = true;
                break;
            case Write::Taken: // another tool got there first: look again
                break;
            }
        }
        if (!settled)
            return inUse(std::nullopt);
    }

    m_fd = ::open(node.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return openFailed(node, errno);
    if (!::isatty(m_fd))
        return couldNotOpen(QCoreApplication::translate("queltor::SerialPort", "it is not a serial port"));
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        const std::optional<qint64> holder = flockHolder(node);
        return inUse(holder ? std::optional(holderOf(*holder, DeviceHolder::Means::Flock)) : std::nullopt);
    }
    m_node = node;
    giveBack.dismiss();
    return std::nullopt;
}

QString DeviceAccess::openPath() const { return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_fd); }

void DeviceAccess::excludeOthers() const
{
    if (m_fd >= 0)
        ::ioctl(m_fd, TIOCEXCL);
}

void DeviceAccess::release()
{
    if (!m_lockFile.isEmpty()) {
        // Only while it still names us: a lock is never taken from another.
        if (lockFilePid(readSmallFile(m_lockFile).text) == ::getpid())
            ::unlink(m_lockFile.constData());
        m_lockFile.clear();
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_node.clear();
}

} // namespace queltor
