#include "link/port_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace queltor::port_lock {

namespace {

constexpr qint64 kLockFileLimit = 4096; // far more than any lock file holds

// QSerialPort's own list, in its order.
const char *const kLockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
                                    "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kLockFileLimit);
}

} // namespace

QString lockFileName(const QString &systemLocation)
{
    const QLatin1String dev("/dev/");
    QString name = systemLocation.startsWith(dev) ? systemLocation.mid(dev.size()) : systemLocation;
    return QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString lockFilePath(const QString &systemLocation)
{
    const QString name = lockFileName(systemLocation);
    for (const char *folder : kLockFolders) {
        const QFileInfo info(QString::fromLatin1(folder));
        QString path = info.filePath() + QLatin1Char('/') + name;
        if (info.isReadable() && (QFileInfo::exists(path) || info.isWritable()))
            return path;
    }
    return {};
}

std::optional<qint64> lockHolder(const QString &lockFile)
{
    const QByteArray text = readSmallFile(lockFile);
    const QByteArray first = text.left(text.indexOf('\n')).trimmed();
    bool ok = false;
    const qint64 pid = first.toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    return pid;
}

bool processRunning(qint64 pid)
{
#ifdef Q_OS_UNIX
    if (pid <= 0 || pid != static_cast<pid_t>(pid))
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#else
    Q_UNUSED(pid);
    return false;
#endif
}

QString programName(qint64 pid)
{
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    // The command as started names the program best; comm is cut to 15 characters.
    const QByteArray command = readSmallFile(proc + QStringLiteral("cmdline"));
    const QByteArray first = command.left(command.indexOf('\0'));
    if (!first.isEmpty())
        return QFileInfo(QFile::decodeName(first)).fileName();
    return QString::fromLocal8Bit(readSmallFile(proc + QStringLiteral("comm"))).trimmed();
}

std::optional<qint64> deviceOpener(const QByteArray &path)
{
#ifdef Q_OS_UNIX
    struct stat device
    { };
    if (::stat(path.constData(), &device) != 0 || !S_ISCHR(device.st_mode))
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
#else
    Q_UNUSED(path);
#endif
    return std::nullopt;
}

} // namespace queltor::port_lock
