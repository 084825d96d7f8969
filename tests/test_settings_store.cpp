// The settings file on disk: read afresh, saved whole or not at all and only
// when a value changed, in the user's file only; a save that cannot be made
// says what stopped it.
#include "link/failure.h"
#include "link/settings_store.h"
#include "link/settings_text.h"

#include "failure_of.h"
#include "temp_config.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace queltor;
namespace text = queltor::settings_text;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct stat statusOf(const QString &path)
{
    struct stat status
    { };
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void absentKeysReadDefault_data();
    void absentKeysReadDefault();
    void writeReachesTheFile_data();
    void writeReachesTheFile();
    void saveOnlyWhatChangedKeepingTheMode();
    void portDeviceChangesOneLine_data();
    void portDeviceChangesOneLine();
    void writeFailureNamesWhatAndWhy_data();
    void writeFailureNamesWhatAndWhy();
    void saveFailureGivesTheSystemsReason_data();
    void saveFailureGivesTheSystemsReason();
    void damagedFileReadsDefaults_data();
    void damagedFileReadsDefaults();
    void sharedFilesFillInMissingKeys();
};

void TestSettingsStore::absentKeysReadDefault_data()
{
    QTest::addColumn<QByteArray>("fileContents"); // empty: no file at all
    QTest::addColumn<QString>("key");

    QTest::newRow("first run, ChNum") << QByteArray() << SettingsStore::kChNum;
    QTest::newRow("first run, ComPort") << QByteArray() << SettingsStore::kComPort;
    QTest::newRow("other key set") << QByteArray("[Settings]\nChNum=3\n") << SettingsStore::kComPort;
    QTest::newRow("same key, other group") << QByteArray("[Ports]\nChNum=3\n") << SettingsStore::kChNum;
}

void TestSettingsStore::absentKeysReadDefault()
{
    QFETCH(QByteArray, fileContents);
    QFETCH(QString, key);
    TempConfig config;
    if (!fileContents.isEmpty())
        QVERIFY(putFile(config.fileName(), fileContents));

    const SettingsStore store;
    QCOMPARE(store.read(key), QStringLiteral("1"));
    QCOMPARE(store.read(key, QStringLiteral("7")), QStringLiteral("7"));
}

void TestSettingsStore::writeReachesTheFile_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("writes"); // in order; the last one must stick

    QTest::newRow("ChNum") << SettingsStore::kChNum << QStringList{QStringLiteral("4")};
    QTest::newRow("ComPort") << SettingsStore::kComPort << QStringList{QStringLiteral("2")};
    QTest::newRow("zero") << SettingsStore::kChNum << QStringList{QStringLiteral("0")};
    QTest::newRow("replaced") << SettingsStore::kChNum
                              << QStringList{QStringLiteral("9"), QStringLiteral("1"), QStringLiteral("3")};
}

void TestSettingsStore::writeReachesTheFile()
{
    QFETCH(QString, key);
    QFETCH(QStringList, writes);
    TempConfig config;
    const QString text = writes.last();

    {
        SettingsStore store;
        for (const QString &w : std::as_const(writes))
            store.write(key, w);
        QCOMPARE(store.read(key), text);
        QCOMPARE(store.fileName(), config.fileName());
    }

    // On disk at once, as text another program can read.
    QCOMPARE(fileBytes(config.fileName()), "[Settings]\n" + key.toLatin1() + '=' + text.toLatin1() + '\n');
    QCOMPARE(config.value(QStringLiteral("Settings"), key), text);
    QVERIFY(!QFile::exists(config.fileName() + QStringLiteral(".lock")));

    // The next run sees it.
    const SettingsStore nextRun;
    QCOMPARE(nextRun.read(key), text);
}

void TestSettingsStore::saveOnlyWhatChangedKeepingTheMode()
{
    TempConfig config;
    const QString file = config.fileName();
    QVERIFY(putFile(file, "[Settings]\nChNum=4\n; mine\n"));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    const struct stat before = statusOf(file);
    SettingsStore store;

    // The same text again: the file is not touched at all.
    store.write(SettingsStore::kChNum, QStringLiteral("4"));
    QCOMPARE(statusOf(file).st_ino, before.st_ino);
    QCOMPARE(statusOf(file).st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // A new text: a new file in its place, whole, with the old one's mode.
    store.write(SettingsStore::kChNum, QStringLiteral("5"));
    const struct stat after = statusOf(file);
    QVERIFY(after.st_ino != before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(fileBytes(file), QByteArray("[Settings]\nChNum=5\n; mine\n"));
    QCOMPARE(QDir(config.path() + QStringLiteral("/QUELTOR")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("QUELTOR.conf")});
}

void TestSettingsStore::portDeviceChangesOneLine_data()
{
    QTest::addColumn<QByteArray>("before"); // empty: no file at all
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QByteArray>("after"); // the same as before when the save is refused
    QTest::addColumn<QString>("why");      // why it is refused; empty when it is not

    const QByteArray link("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    QTest::newRow("value replaced, all else kept")
        << QByteArray("; mine\n[Settings]\nChNum=3\n[Ports]\nCOM1=/dev/ttyS0\nCOM2 =\t/dev/old  \n# end") << 2 << link
        << "; mine\n[Settings]\nChNum=3\n[Ports]\nCOM1=/dev/ttyS0\nCOM2 =\t" + link + "  \n# end" << QString();
    QTest::newRow("CRLF kept") << QByteArray("[Ports]\r\nCOM1=/dev/a\r\nCOM2=/dev/b\r\n") << 1 << link
                               << "[Ports]\r\nCOM1=" + link + "\r\nCOM2=/dev/b\r\n"
                               << QString();
    QTest::newRow("line added to its group")
        << QByteArray("[Ports]\nCOM2=/dev/b\n\n[Settings]\nChNum=3\n") << 12 << link
        << "[Ports]\nCOM2=/dev/b\nCOM12=" + link + "\n\n[Settings]\nChNum=3\n"
        << QString();
    QTest::newRow("group added, CRLF") << QByteArray("[Settings]\r\nChNum=3\r\n") << 1 << link
                                       << "[Settings]\r\nChNum=3\r\n\r\n[Ports]\r\nCOM1=" + link + "\r\n"
                                       << QString();
    QTest::newRow("no file yet") << QByteArray() << 1 << link << "[Ports]\nCOM1=" + link + '\n' << QString();
    // Bytes are kept as they are; the comma makes the value quoted so QSettings reads it whole.
    QTest::newRow("not UTF-8, with a comma")
        << QByteArray("[Ports]\nCOM1=/dev/a\n") << 1 << QByteArray("/dev/serial/by-id/usb-Rig_Co.,_\xff")
        << QByteArray("[Ports]\nCOM1=\"/dev/serial/by-id/usb-Rig_Co.,_\xff\"\n") << QString();
    QTest::newRow("over 1,000 characters")
        << QByteArray("[Ports]\nCOM1=/dev/a\n") << 1 << "/dev/" + QByteArray(996, 'x')
        << QByteArray("[Ports]\nCOM1=/dev/a\n") << QStringLiteral("the text is longer than 1,000 characters");
    // 1,000 characters, but the quotes it needs make it longer as written.
    QTest::newRow("over 1,000 as written") << QByteArray("[Ports]\nCOM1=/dev/a\n") << 1
                                           << "/dev/a," + QByteArray(993, 'x') << QByteArray("[Ports]\nCOM1=/dev/a\n")
                                           << QStringLiteral("with it the file has a value of more than 1,000 "
                                                             "characters on line 2, so it is left as it is");
}

void TestSettingsStore::portDeviceChangesOneLine()
{
    QFETCH(QByteArray, before);
    QFETCH(int, port);
    QFETCH(QByteArray, device);
    QFETCH(QByteArray, after);
    QFETCH(QString, why);
    TempConfig config;
    if (!before.isEmpty())
        QVERIFY(putFile(config.fileName(), before));

    // A device for this run only is never written, and gives way to one that is saved.
    SettingsStore store;
    store.setRunDevice(port, "/dev/for-this-run");
    QCOMPARE(store.portDevice(port), std::optional<QByteArray>("/dev/for-this-run"));
    QVERIFY(store.namesPortDevice(port));
    const QString failure = failureOf([&] { store.writePortDevice(port, device); });
    QCOMPARE(failure,
             why.isEmpty() ? QString()
                           : QStringLiteral("The setting COM%1 could not be saved to %2: %3.")
                                 .arg(QString::number(port), config.fileName(), why));
    QCOMPARE(fileBytes(config.fileName()), after);
    QCOMPARE(store.portDevice(port), std::optional<QByteArray>(why.isEmpty() ? device : "/dev/for-this-run"));
    if (why.isEmpty())
        QCOMPARE(SettingsStore().portDevice(port), std::optional(device));
}

void TestSettingsStore::writeFailureNamesWhatAndWhy_data()
{
    QTest::addColumn<QString>("blocker"); // what sits where the store must write
    QTest::addColumn<QString>("why");     // %1 the config home

    // Each stops root as well; read-only files and folders are the reliability suite's,
    // where the save runs as another user.
    QTest::newRow("directory in place of the file")
        << QStringLiteral("file-is-dir") << QStringLiteral("the file is a folder, not a file, so it is left as it is");
    QTest::newRow("file in place of the directory")
        << QStringLiteral("dir-is-file") << QStringLiteral("%1/QUELTOR is a file, where a folder should be");
    QTest::newRow("file over 64 KB") << QStringLiteral("huge")
                                     << QStringLiteral("the file is larger than 64 KB, so it is left as it is");
}

void TestSettingsStore::writeFailureNamesWhatAndWhy()
{
    QFETCH(QString, blocker);
    QFETCH(QString, why);
    TempConfig config;
    const QString folder = config.path() + QStringLiteral("/QUELTOR");
    const QByteArray huge = "[Settings]\nChNum=2\n;" + QByteArray(text::kMaxFileBytes, 'x');
    if (blocker == QLatin1String("file-is-dir"))
        QVERIFY(QDir().mkpath(config.fileName()));
    else if (blocker == QLatin1String("dir-is-file"))
        QVERIFY(putFile(folder, "x"));
    else
        QVERIFY(putFile(config.fileName(), huge));

    SettingsStore store;
    QCOMPARE(store.read(SettingsStore::kChNum), QStringLiteral("1"));
    QCOMPARE(failureOf([&] { store.write(SettingsStore::kChNum, QStringLiteral("4")); }),
             QStringLiteral("The setting ChNum could not be saved to %1: %2.")
                 .arg(config.fileName(), why.contains(QLatin1String("%1")) ? why.arg(config.path()) : why));
    if (blocker == QLatin1String("huge"))
        QCOMPARE(fileBytes(config.fileName()), huge);

    // Once the way is clear the next save goes through, and the failed one is not in it.
    if (blocker == QLatin1String("file-is-dir"))
        QVERIFY(QDir().rmdir(config.fileName()));
    else
        QVERIFY(QFile::remove(blocker == QLatin1String("huge") ? config.fileName() : folder));
    store.write(SettingsStore::kComPort, QStringLiteral("2"));
    QCOMPARE(fileBytes(config.fileName()), QByteArray("[Settings]\nComPort=2\n"));
}

void TestSettingsStore::saveFailureGivesTheSystemsReason_data()
{
    QTest::addColumn<QString>("disk");      // "limit": a file size limit of limitBytes; else a small filesystem
    QTest::addColumn<qint64>("limitBytes"); // below the lock file's size, or only below the settings file's
    QTest::addColumn<QString>("why");       // {file} the settings file

    QTest::newRow("file size limit, at the lock file")
        << QStringLiteral("limit") << qint64(8)
        << QStringLiteral("its lock file {file}.lock cannot be made (file too large)");
    QTest::newRow("file size limit, at the file")
        << QStringLiteral("limit") << qint64(1024) << QStringLiteral("the file cannot be written (file too large)");
    QTest::newRow("full filesystem") << QStringLiteral("full") << qint64(0)
                                     << QStringLiteral("its lock file {file}.lock cannot be made (no space left on "
                                                       "device)");
    QTest::newRow("read-only filesystem") << QStringLiteral("read-only") << qint64(0)
                                          << QStringLiteral("the file cannot be written (read-only file system)");
}

// A disk that takes no more: the save says why in the system's words, and the file is as it was.
void TestSettingsStore::saveFailureGivesTheSystemsReason()
{
    QFETCH(QString, disk);
    QFETCH(qint64, limitBytes);
    QFETCH(QString, why);
    TempConfig config;
    const QByteArray home = QFile::encodeName(config.path());
    const bool mounted = disk != QLatin1String("limit");
    if (mounted && (::geteuid() != 0 || ::mount("tmpfs", home.constData(), "tmpfs", 0, "size=64k") != 0))
        QSKIP("a small filesystem cannot be made here (needs root, and mounts allowed)");
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(home.constData(), MNT_DETACH);
    });
    const QByteArray before = "[Settings]\nChNum=2\n;" + QByteArray(2000, 'x') + '\n';
    QVERIFY(putFile(config.fileName(), before));
    if (disk == QLatin1String("full")) {
        QFile filler(config.path() + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) > 0) {
        }
    } else if (disk == QLatin1String("read-only")) {
        QCOMPARE(::mount("tmpfs", home.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
    }

    SettingsStore store;
    QString failure;
    {
        // Beyond the limit a write fails with EFBIG, instead of the signal ending the test.
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto restore = qScopeGuard([&before] {
            ::setrlimit(RLIMIT_FSIZE, &before);
            std::signal(SIGXFSZ, SIG_DFL);
        });
        if (limitBytes > 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limited{rlim_t(limitBytes), before.rlim_max};
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        }
        failure = failureOf([&] { store.write(SettingsStore::kChNum, QStringLiteral("4")); });
    }
    QCOMPARE(failure,
             QStringLiteral("The setting ChNum could not be saved to %1: %2.")
                 .arg(config.fileName(), QString(why).replace(QStringLiteral("{file}"), config.fileName())));
    QCOMPARE(fileBytes(config.fileName()), before);
    QCOMPARE(
        QDir(QFileInfo(config.fileName()).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("QUELTOR.conf")});
}

void TestSettingsStore::damagedFileReadsDefaults_data()
{
    QTest::addColumn<QByteArray>("fileContents");
    QTest::addColumn<bool>("asDirectory");
    QTest::addColumn<bool>("usable");

    QByteArray noise(4096, '\0');
    QRandomGenerator random(20240611);
    for (char &c : noise)
        c = static_cast<char>(random.bounded(256));
    noise.replace("ChNum", "chnum");
    QTest::newRow("random bytes") << noise << false << true;
    QTest::newRow("NULs only") << QByteArray(512, '\0') << false << true;
    QTest::newRow("over 64 KB") << "[Settings]\nChNum=3\nComPort=2\n[Ports]\nCOM1=/dev/x\n;"
            + QByteArray(text::kMaxFileBytes, 'x')
                                << false << false;
    QTest::newRow("unreadable: a directory") << QByteArray() << true << false;
}

void TestSettingsStore::damagedFileReadsDefaults()
{
    QFETCH(QByteArray, fileContents);
    QFETCH(bool, asDirectory);
    QFETCH(bool, usable);
    TempConfig config;
    if (asDirectory)
        QVERIFY(QDir().mkpath(config.fileName()));
    else
        QVERIFY(putFile(config.fileName(), fileContents));

    const SettingsStore store;
    QCOMPARE(store.flaw().isEmpty(), usable);
    QCOMPARE(store.read(SettingsStore::kChNum), QStringLiteral("1"));
    QCOMPARE(store.read(SettingsStore::kComPort), QStringLiteral("1"));
    // Which device a file that cannot be used maps COM1 to is not known; none is guessed.
    QCOMPARE(store.portDevice(1),
             usable ? std::optional(SettingsStore::defaultPortDevice(1)) : std::optional<QByteArray>());
}

void TestSettingsStore::sharedFilesFillInMissingKeys()
{
    TempConfig config;
    QTemporaryDir shared;
    const QByteArray system("[Ports]\nCOM1=/dev/shared1\nCOM2=/dev/shared2\n[Settings]\nChNum=5\n");
    QVERIFY(putFile(shared.filePath(QStringLiteral("QUELTOR/QUELTOR.conf")), system));
    QVERIFY(putFile(config.fileName(), "[Ports]\nCOM2=/dev/mine\n"));
    const QByteArray oldDirs = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(shared.path()));
    const auto restore = qScopeGuard([&oldDirs] {
        if (oldDirs.isNull())
            qunsetenv("XDG_CONFIG_DIRS");
        else
            qputenv("XDG_CONFIG_DIRS", oldDirs);
    });

    SettingsStore store;
    QCOMPARE(store.portDevice(1), std::optional<QByteArray>("/dev/shared1"));
    QCOMPARE(store.portDevice(2), std::optional<QByteArray>("/dev/mine"));
    QCOMPARE(store.read(SettingsStore::kChNum), QStringLiteral("5"));
    store.write(SettingsStore::kChNum, QStringLiteral("6"));
    QCOMPARE(fileBytes(config.fileName()), QByteArray("[Ports]\nCOM2=/dev/mine\n\n[Settings]\nChNum=6\n"));
    QCOMPARE(fileBytes(shared.filePath(QStringLiteral("QUELTOR/QUELTOR.conf"))), system);
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
