#include "link/settings_store.h"

#include "link/failure.h"
#include "link/port_label.h"
#include "link/settings_text.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace queltor {

namespace {

const QString kFile = QStringLiteral("/QUELTOR/QUELTOR.conf");
constexpr QByteArrayView kSettings("Settings");
constexpr QByteArrayView kPorts("Ports");
// Another panel holds the lock for a few milliseconds; longer than this, it is stuck.
constexpr int kLockWaitMs = 5000;
constexpr unsigned long kLockPollMs = 5;

// A settings file as read: its text, or why it cannot be used (and no text).
struct Contents
{
    QByteArray text;
    QString flaw;
};

// The file a chain of symbolic links ends at: that file is replaced, the links stay.
QString resolvedLinks(const QString &file)
{
    QString target = file;
    for (int hops = 0; hops < 40; ++hops) { // as many as the system itself follows
        const QFileInfo info(target);
        if (!info.isSymLink())
            break;
        target = info.symLinkTarget();
    }
    return target;
}

Contents load(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status
    { };
    if (::lstat(native.constData(), &status) != 0)
        return {}; // no file: every key is absent
    if (::stat(native.constData(), &status) != 0) {
        // A link that leads nowhere: the file the user meant cannot be known.
        const int error = errno;
        if (error == ELOOP)
            return {{}, QCoreApplication::translate("queltor::SettingsStore", "is a loop of symbolic links")};
        if (error == ENOENT || error == ENOTDIR)
            return {{},
                    QCoreApplication::translate("queltor::SettingsStore",
                                                "is a symbolic link to %1, which does not exist")
                        .arg(resolvedLinks(path))};
        return {{},
                QCoreApplication::translate("queltor::SettingsStore", "cannot be read (%1)").arg(errnoClause(error))};
    }
    if (S_ISDIR(status.st_mode))
        return {{}, QCoreApplication::translate("queltor::SettingsStore", "is a folder, not a file")};
    if (!S_ISREG(status.st_mode)) // a FIFO would block the panel for good
        return {{}, QCoreApplication::translate("queltor::SettingsStore", "is not a regular file")};
    QFile file(path);
    QByteArray text;
    if (file.open(QIODevice::ReadOnly))
        text = file.read(settings_text::kMaxFileBytes + 1); // enough to tell it is too large
    if (file.error() != QFileDevice::NoError)
        return {{},
                QCoreApplication::translate("queltor::SettingsStore", "cannot be read (%1)")
                    .arg(asClause(file.errorString()))};
    QString flaw = settings_text::flaw(text);
    if (!flaw.isEmpty())
        text.clear();
    return {text, flaw};
}

// The value in the first file that has the key. A file that cannot be used
// reads as one without it; known tells whether such a file came first.
std::optional<QByteArray> lookup(const QStringList &files, QByteArrayView group, QByteArrayView key,
                                 bool *known = nullptr)
{
    if (known)
        *known = true;
    for (const QString &file : files) {
        const Contents contents = load(file);
        if (known && !contents.flaw.isEmpty())
            *known = false;
        if (std::optional<QByteArray> found = settings_text::value(contents.text, group, key))
            return found;
    }
    return std::nullopt;
}

std::optional<QByteArray> portEntry(const QStringList &files, int port, bool *known)
{
    return lookup(files, kPorts, portLabel(port).toLatin1(), known);
}

// UTF-8 text's length in characters, as the limit on a value counts them.
qsizetype characters(QByteArrayView text)
{
    return std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<uchar>(c) & 0xC0) != 0x80; });
}

QByteArray native(const QString &path) { return QFile::encodeName(path); }

// Makes folder and the folders above it as needed; why it could not, or empty.
QString makeFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return {};
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder) {
        if (QString why = makeFolder(parent); !why.isEmpty())
            return why;
    }
    if (::mkdir(native(folder).constData(), 0777) == 0)
        return {};
    if (errno == EEXIST)
        return QCoreApplication::translate("queltor::SettingsStore", "%1 is a file, where a folder should be")
            .arg(folder);
    return QCoreApplication::translate("queltor::SettingsStore", "the folder %1 cannot be made (%2)")
        .arg(folder, errnoClause(errno));
}

QString userName(uid_t uid)
{
    passwd entry{};
    passwd *found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QCoreApplication::translate("queltor::SettingsStore", "user %1").arg(uid);
}

// The owner of path when that is not the user running the panel.
std::optional<uid_t> foreignOwner(const QString &path)
{
    struct stat status
    { };
    if (::stat(native(path).constData(), &status) != 0 || status.st_uid == ::geteuid())
        return std::nullopt;
    return status.st_uid;
}

// Why a file cannot be written in folder, in the system's words ("no space left
// on device"); empty when a small one can.
QString whyNoFileIn(const QString &folder)
{
    QByteArray path = native(folder) + "/.QUELTOR.conf.XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return errnoClause(errno);
    int error = 0;
    const char probe[512] = {};
    for (std::size_t done = 0; done < sizeof probe && error == 0;) {
        const ssize_t n = ::write(fd, probe + done, sizeof probe - done);
        if (n < 0)
            error = errno;
        else
            done += std::size_t(n);
    }
    ::close(fd);
    ::unlink(path.constData());
    return error == 0 ? QString() : errnoClause(error);
}

// Why target, in folder, cannot be written by this user; empty when it can.
// Run as root, a file or folder of another user's is never taken over.
QString whyNotWritable(const QString &target, const QString &folder)
{
    if (QString why = makeFolder(folder); !why.isEmpty())
        return why;
    const bool exists = QFileInfo::exists(target);
    if (const std::optional<uid_t> owner = foreignOwner(exists ? target : folder)) {
        const QString what = exists
            ? QCoreApplication::translate("queltor::SettingsStore", "the file")
            : QCoreApplication::translate("queltor::SettingsStore", "its folder %1").arg(folder);
        return QCoreApplication::translate(
                   "queltor::SettingsStore",
                   "%1 belongs to %2, not to %3, who runs the panel, so it is left to its owner")
            .arg(what, userName(*owner), userName(::geteuid()));
    }
    if (exists && ::access(native(target).constData(), W_OK) != 0)
        return QCoreApplication::translate("queltor::SettingsStore", "the file cannot be written (%1)")
            .arg(errnoClause(errno));
    if (::access(native(folder).constData(), W_OK | X_OK) != 0)
        return QCoreApplication::translate("queltor::SettingsStore", "its folder %1 cannot be written (%2)")
            .arg(folder, errnoClause(errno));
    return {};
}

} // namespace

SettingsStore::SettingsStore()
{
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    m_files << home + kFile;
    for (const QString &dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        if (dir != home)
            m_files << dir + kFile;
    }
}

SettingsStore::SettingsStore(const QString &file)
    : m_files{QFileInfo(file).absoluteFilePath()}
{
}

QString SettingsStore::read(const QString &key, const QString &defaultText) const
{
    const std::optional<QByteArray> text = lookup(m_files, kSettings, key.toUtf8());
    return text ? QString::fromUtf8(*text) : defaultText;
}

bool SettingsStore::contains(const QString &key) const { return lookup(m_files, kSettings, key.toUtf8()).has_value(); }

void SettingsStore::write(const QString &key, const QString &text) { save(kSettings, key, text.toUtf8()); }

void SettingsStore::writePortDevice(int port, const QByteArray &device)
{
    save(kPorts, portLabel(port), device);
    m_runDevices.remove(port);
}

void SettingsStore::save(QByteArrayView group, const QString &key, const QByteArray &value)
{
    const QString &file = fileName();
    const QString target = resolvedLinks(file);
    const QString where = target == file || !QFileInfo::exists(target)
        ? file
        : QCoreApplication::translate("queltor::SettingsStore", "%1 (a link to %2)").arg(file, target);
    const auto fail = [&](const QString &why) {
        throw Failed(
            Failure(Failure::Kind::NotSaved,
                    QCoreApplication::translate("queltor::SettingsStore", "The setting %1 could not be saved to %2")
                        .arg(key, where),
                    why));
    };
    if (characters(value) > settings_text::kMaxValueChars)
        fail(QCoreApplication::translate("queltor::SettingsStore", "the text is longer than 1,000 characters"));

    const QByteArray keyBytes = key.toUtf8();
    // The text to save into, or nothing when the value is there already.
    const auto current = [&]() -> std::optional<QByteArray> {
        // Read through the links, so one that leads nowhere is found out.
        Contents contents = load(file);
        if (!contents.flaw.isEmpty())
            fail(QCoreApplication::translate("queltor::SettingsStore", "the file %1, so it is left as it is")
                     .arg(contents.flaw));
        if (settings_text::value(contents.text, group, keyBytes) == value)
            return std::nullopt;
        return contents.text;
    };
    if (!current())
        return;

    const QString folder = QFileInfo(target).absolutePath();
    if (const QString why = whyNotWritable(target, folder); !why.isEmpty())
        fail(why);

    // Read, change and save under the lock, so a second panel saving another
    // key at the same moment neither loses its change nor undoes this one.
    // QLockFile's own wait doubles its pauses up to seconds; a short steady
    // poll keeps each save quick while another panel saves too.
    QLockFile lock(target + QStringLiteral(".lock"));
    const QDeadlineTimer deadline(kLockWaitMs);
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError) {
            // QLockFile keeps the system's reason to itself.
            const QString why = whyNoFileIn(folder);
            fail(
                why.isEmpty()
                    ? QCoreApplication::translate("queltor::SettingsStore", "its lock file %1.lock cannot be made")
                          .arg(target)
                    : QCoreApplication::translate("queltor::SettingsStore", "its lock file %1.lock cannot be made (%2)")
                          .arg(target, why));
        }
        if (deadline.hasExpired())
            fail(QCoreApplication::translate("queltor::SettingsStore", "another program kept it locked for %1 seconds")
                     .arg(kLockWaitMs / 1000));
        QThread::msleep(kLockPollMs);
    }
    const std::optional<QByteArray> before = current();
    if (!before)
        return;

    const QByteArray after = settings_text::withValue(*before, group, keyBytes, value);
    // Quotes and escapes lengthen a value as written: never save a file the panel would refuse.
    if (const QString flaw = settings_text::flaw(after); !flaw.isEmpty())
        fail(QCoreApplication::translate("queltor::SettingsStore", "with it the file %1, so it is left as it is")
                 .arg(flaw));
    // Unbuffered, and every byte counted: from a buffer, a write the disk took
    // only part of is committed as if whole, and the file is cut short.
    QSaveFile save(target);
    bool whole = save.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    for (qsizetype done = 0; whole && done < after.size();) {
        const qint64 n = save.write(after.constData() + done, after.size() - done);
        whole = n > 0;
        done += n;
    }
    if (!whole || !save.commit())
        fail(QCoreApplication::translate("queltor::SettingsStore", "the file cannot be written (%1)")
                 .arg(asClause(save.errorString())));
}

std::optional<QByteArray> SettingsStore::portDevice(int port) const
{
    if (const auto run = m_runDevices.constFind(port); run != m_runDevices.cend())
        return *run;
    bool known = true;
    const std::optional<QByteArray> mapped = portEntry(m_files, port, &known);
    if (!known)
        return std::nullopt;
    return mapped && !mapped->isEmpty() ? *mapped : defaultPortDevice(port);
}

bool SettingsStore::namesPortDevice(int port) const
{
    if (m_runDevices.contains(port))
        return true;
    bool known = true;
    const std::optional<QByteArray> mapped = portEntry(m_files, port, &known);
    return known && mapped && !mapped->isEmpty();
}

QByteArray SettingsStore::defaultPortDevice(int port) { return "/dev/ttyS" + QByteArray::number(port - 1); }

QString SettingsStore::flaw() const { return load(fileName()).flaw; }

} // namespace queltor
