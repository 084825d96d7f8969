// The settings file damaged, huge, blocked, shared, another user's or fought
// over: the panel always comes up and works, says clearly when a choice
// cannot be saved and why, and never changes a byte of the file it does not own.
#include "panel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace queltor;

namespace {

bool putFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

struct stat statusOf(const QString &path)
{
    struct stat status
    { };
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// A device map where an administrator keeps one for everybody ($XDG_CONFIG_DIRS):
// the panel still finds its device while the user's own file is damaged or blocked.
class SharedPorts
{
public:
    explicit SharedPorts(const QString &com1)
        : m_old(qgetenv("XDG_CONFIG_DIRS"))
    {
        putFile(m_dir.filePath(QStringLiteral("QUELTOR/QUELTOR.conf")), "[Ports]\nCOM1=" + QFile::encodeName(com1));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.path()));
    }
    ~SharedPorts()
    {
        if (m_old.isNull())
            qunsetenv("XDG_CONFIG_DIRS");
        else
            qputenv("XDG_CONFIG_DIRS", m_old);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
};

// Where the user's settings would live when XDG_CONFIG_HOME points at home.
void moveConfigHome(const QString &home) { qputenv("XDG_CONFIG_HOME", QFile::encodeName(home)); }

enum class Fault { Garbage, HugeGarbage, LongValue, Directory, LinkLoop, DanglingLink, HomeUnderFile, HomeReadOnly };
enum class Setup { Symlink, ReadOnlyFile, ReadOnlyFolder, OtherUsersFile };

const QString kNotUsed = QStringLiteral("The settings file {file} is not used: it %1. 20 channels are shown; no port "
                                        "is opened and no choice is saved until the file is mended or removed.");
const QString kNotSaved = QStringLiteral("The setting ChNum could not be saved to {file}: %1.");

} // namespace

class TestSettingsFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void panelSurvivesSettingsFault_data();
    void panelSurvivesSettingsFault();
    void saveKeepsTheUsersFile_data();
    void saveKeepsTheUsersFile();
    void twoPanelsSavingDifferentKeys();

private:
    // Runs settings_writer with args; as nobody when asked and this runs as root,
    // so that permission bits count. Returns its exit code, or -1.
    int runWriter(const QStringList &args, bool asNobody, QString *errors);

    QTemporaryDir m_scratch;
    QString m_setpriv;
    QString m_nobodyWriter;
    uid_t m_nobody = 0;
    gid_t m_nobodyGroup = 0;
};

void TestSettingsFaults::initTestCase()
{
    if (::geteuid() != 0)
        return;
    m_setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!m_setpriv.isEmpty(), "setpriv (util-linux) is not installed");
    const passwd *nobody = ::getpwnam("nobody");
    QVERIFY2(nobody, "there is no user nobody");
    m_nobody = nobody->pw_uid;
    m_nobodyGroup = nobody->pw_gid;
    // The build tree may sit where nobody cannot reach (/root in CI).
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(m_scratch.isValid() && QFile::setPermissions(m_scratch.path(), open));
    m_nobodyWriter = m_scratch.filePath(QStringLiteral("settings_writer"));
    QVERIFY(QFile::copy(QStringLiteral(QUELTOR_SETTINGS_WRITER), m_nobodyWriter));
    QVERIFY(QFile::setPermissions(m_nobodyWriter, open));
}

int TestSettingsFaults::runWriter(const QStringList &args, bool asNobody, QString *errors)
{
    QProcess writer;
    if (asNobody && ::geteuid() == 0) {
        writer.start(m_setpriv,
                     QStringList{QStringLiteral("--reuid=%1").arg(m_nobody),
                                 QStringLiteral("--regid=%1").arg(m_nobodyGroup), QStringLiteral("--clear-groups"),
                                 m_nobodyWriter}
                         + args);
    } else {
        writer.start(QStringLiteral(QUELTOR_SETTINGS_WRITER), args);
    }
    if (!writer.waitForFinished(20000) || writer.exitStatus() != QProcess::NormalExit)
        return -1;
    *errors = QString::fromUtf8(writer.readAllStandardError()).trimmed();
    return writer.exitCode();
}

void TestSettingsFaults::panelSurvivesSettingsFault_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("startMessage"); // empty: none; {file} the file, {home} the config home
    QTest::addColumn<QString>("saveRefused");  // why a save fails while the fault stands; empty: it goes through

    QTest::newRow("garbage bytes") << Fault::Garbage << QString() << QString();
    const QString huge = QStringLiteral("is larger than 64 KB");
    QTest::newRow("10 MB of garbage") << Fault::HugeGarbage << kNotUsed.arg(huge)
                                      << kNotSaved.arg(QStringLiteral("the file %1, so it is left as it is").arg(huge));
    const QString longValue = QStringLiteral("has a value of more than 1,000 characters on line 4");
    QTest::newRow("a value of 2,000 characters")
        << Fault::LongValue << kNotUsed.arg(longValue)
        << kNotSaved.arg(QStringLiteral("the file %1, so it is left as it is").arg(longValue));
    const QString folder = QStringLiteral("is a folder, not a file");
    QTest::newRow("directory in place of the file")
        << Fault::Directory << kNotUsed.arg(folder)
        << kNotSaved.arg(QStringLiteral("the file %1, so it is left as it is").arg(folder));
    // Opening /dev/ttyS0 would be a guess: the file the user meant cannot be read.
    for (const auto &[fault, flaw] :
         {std::pair(Fault::LinkLoop, QStringLiteral("is a loop of symbolic links")),
          std::pair(Fault::DanglingLink,
                    QStringLiteral("is a symbolic link to {home}/QUELTOR/gone.conf, which does not exist"))}) {
        QTest::newRow(fault == Fault::LinkLoop ? "a loop of symbolic links" : "a symbolic link that leads nowhere")
            << fault << kNotUsed.arg(flaw)
            << kNotSaved.arg(QStringLiteral("the file %1, so it is left as it is").arg(flaw));
    }
    const QString underFile = kNotSaved.arg(QStringLiteral("{home}/plain is a file, where a folder should be"));
    QTest::newRow("config home under a regular file") << Fault::HomeUnderFile << underFile << underFile;
    const QString readOnly = kNotSaved.arg(
        QStringLiteral("the folder {home}/readonly/QUELTOR cannot be made (permission denied)"));
    QTest::newRow("config home without write permission") << Fault::HomeReadOnly << readOnly << readOnly;
}

void TestSettingsFaults::panelSurvivesSettingsFault()
{
    QFETCH(Fault, fault);
    QFETCH(QString, startMessage);
    QFETCH(QString, saveRefused);

    Panel panel;
    const SharedPorts ports(panel.com1.slavePath());
    const QString home = panel.config.path();
    QString file = panel.config.fileName();
    QVERIFY(QFile::remove(file)); // the fixture's own map is replaced by the fault
    QString blocker = file;       // removed at the end, to show the panel recovers
    QByteArray before;

    switch (fault) {
    case Fault::Garbage:
        // Lines of noise, none of them a group or a key the panel knows.
        before = noise(4096, 7).replace('\n', 'x').replace('\r', 'x').replace('[', 'x');
        for (qsizetype i = 63; i < before.size(); i += 64)
            before[i] = '\n';
        break;
    case Fault::HugeGarbage:
        before = noise(10 * 1024 * 1024, 11);
        break;
    case Fault::LongValue:
        before = "[Settings]\nChNum=3\n[Notes]\nText=" + QByteArray(2000, 'n') + "\n";
        break;
    case Fault::Directory:
        QVERIFY(QDir().mkpath(file));
        break;
    case Fault::LinkLoop:
        QVERIFY(QFile::link(QStringLiteral("loop.conf"), file));
        QVERIFY(QFile::link(QStringLiteral("QUELTOR.conf"), home + QStringLiteral("/QUELTOR/loop.conf")));
        break;
    case Fault::DanglingLink:
        QVERIFY(QFile::link(QStringLiteral("gone.conf"), file));
        break;
    case Fault::HomeUnderFile:
        blocker = home + QStringLiteral("/plain");
        QVERIFY(putFile(blocker, "not a directory"));
        moveConfigHome(blocker + QStringLiteral("/config"));
        file = blocker + QStringLiteral("/config/QUELTOR/QUELTOR.conf");
        break;
    case Fault::HomeReadOnly:
        if (::geteuid() == 0)
            QSKIP("root writes through permission bits; saveKeepsTheUsersFile covers them as nobody");
        blocker = home + QStringLiteral("/readonly");
        QVERIFY(QDir().mkpath(blocker));
        QVERIFY(QFile::setPermissions(blocker, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        moveConfigHome(blocker);
        file = blocker + QStringLiteral("/QUELTOR/QUELTOR.conf");
        break;
    }
    if (!before.isEmpty())
        QVERIFY(putFile(file, before));
    const auto filled = [&](QString text) {
        return text.replace(QStringLiteral("{file}"), file).replace(QStringLiteral("{home}"), home);
    };

    QElapsedTimer clock;
    clock.start();
    panel.start();
    const qint64 startMs = clock.elapsed();
    qInfo("window up in %lld ms", startMs);
    QVERIFY2(startMs < 20000, qPrintable(QString::number(startMs)));
    QVERIFY(panel.window->isVisible());
    QCOMPARE(panel.window->channelCount(), 20);
    QCOMPARE(panel.messages.count(), startMessage.isEmpty() ? 0 : 1);
    if (!startMessage.isEmpty()) {
        QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("QUELTOR"));
        QCOMPARE(panel.messages.lastText(), filled(startMessage));
    }

    // The panel works all the same; only a file it cannot read keeps it from
    // opening a port, which that file may map to another device.
    const bool fileUnusable = startMessage.contains(QLatin1String("is not used"));
    QCOMPARE(panel.window->port().portOpen(), !fileUnusable);
    panel.click(5);
    QCOMPARE(panel.com1.readAll(), fileUnusable ? QByteArray() : QByteArray("V05\r\n"));

    // A new choice takes effect whether or not it can be kept.
    panel.messages.clear();
    panel.choose(QStringLiteral("mnuChNum(3)"));
    QCOMPARE(panel.window->channelCount(), 40);
    if (saveRefused.isEmpty()) {
        QCOMPARE(panel.messages.count(), 0);
        // Saved after the noise, which is kept byte for byte.
        QCOMPARE(fileBytes(file), before + "\n[Settings]\nChNum=3\n");
    } else {
        QCOMPARE(panel.messages.count(), 1);
        QCOMPARE(panel.messages.lastText(), filled(saveRefused));
        // Nothing of the file was changed, nor anything left beside it.
        const bool links = fault == Fault::LinkLoop || fault == Fault::DanglingLink;
        if (fault == Fault::Directory)
            QVERIFY(entries(file).isEmpty());
        else if (!before.isEmpty())
            QVERIFY(fileBytes(file) == before);
        else if (links)
            QVERIFY(QFileInfo(file).isSymLink());
        else
            QVERIFY(!QFileInfo::exists(file));
        QStringList left;
        if (!before.isEmpty() || fault == Fault::Directory || links)
            left << QStringLiteral("QUELTOR.conf");
        if (fault == Fault::LinkLoop)
            left.prepend(QStringLiteral("loop.conf"));
        QCOMPARE(entries(QFileInfo(file).path()), left);

        // Once the way is clear the next choice is saved, and reads back.
        if (fault == Fault::HomeReadOnly)
            QVERIFY(QFile::setPermissions(blocker,
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        else if (QFileInfo(blocker).isDir())
            QVERIFY(QDir(blocker).removeRecursively());
        else
            QVERIFY(QFile::remove(blocker));
        panel.messages.clear();
        panel.choose(QStringLiteral("mnuChNum(5)"));
        panel.choose(QStringLiteral("mnuCom1"));
        QCOMPARE(panel.messages.count(), 0);
        QCOMPARE(panel.window->channelCount(), 60);
        QCOMPARE(fileBytes(file), QByteArray("[Settings]\nChNum=5\nComPort=1\n"));
        panel.click(6);
        QCOMPARE(panel.com1.readAll(), QByteArray("V06\r\n"));
    }

    // And the next window starts from what was kept.
    panel.window.reset();
    panel.messages.clear();
    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->channelCount(), saveRefused.isEmpty() ? 40 : 60);
    QVERIFY(panel.window->port().portOpen());
}

void TestSettingsFaults::saveKeepsTheUsersFile_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<bool>("asNobody"); // run as root, the save runs as nobody: permission bits count
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("refused"); // why; empty when the save goes through; {folder} the file's folder

    QTest::newRow("symlinked file") << Setup::Symlink << false << "7" << QString();
    QTest::newRow("read-only file") << Setup::ReadOnlyFile << true << "7"
                                    << QStringLiteral("the file cannot be written (permission denied)");
    QTest::newRow("read-only file, value already stored") << Setup::ReadOnlyFile << true << "4" << QString();
    QTest::newRow("read-only folder") << Setup::ReadOnlyFolder << true << "7"
                                      << QStringLiteral("its folder {folder} cannot be written (permission denied)");
    QTest::newRow("another user's file")
        << Setup::OtherUsersFile << false << "7"
        << QStringLiteral("the file belongs to nobody, not to root, who runs the panel, so it is left to its owner");
}

void TestSettingsFaults::saveKeepsTheUsersFile()
{
    QFETCH(Setup, setup);
    QFETCH(bool, asNobody);
    QFETCH(QString, value);
    QFETCH(QString, refused);
    const bool root = ::geteuid() == 0;
    if (setup == Setup::OtherUsersFile && !root)
        QSKIP("only root can give a file to another user");

    TempConfig config;
    const QString link = config.fileName();
    const QString folder = QFileInfo(link).path();
    const QByteArray original("; set up by hand\r\n[Ports]\r\nCOM1=/dev/serial/by-id/usb-Rig_Co.,_Ltd_A1-if00\r\n"
                              "[Settings]\r\nChNum=4\r\n");
    // The file that holds the text: a link's target, in a folder of its own.
    const QString file = setup == Setup::Symlink ? config.path() + QStringLiteral("/real/settings.conf") : link;
    QVERIFY(putFile(file, original));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    if (setup == Setup::Symlink)
        QVERIFY(QDir().mkpath(folder) && ::symlink("../real/settings.conf", QFile::encodeName(link).constData()) == 0);
    if (root && (asNobody || setup == Setup::OtherUsersFile)) {
        for (const QString &path : {config.path(), folder, file})
            QCOMPARE(::chown(QFile::encodeName(path).constData(), m_nobody, m_nobodyGroup), 0);
    }
    if (setup == Setup::ReadOnlyFile)
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const auto folderMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (setup == Setup::ReadOnlyFolder)
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(folder, folderMode); });
    const struct stat before = statusOf(file);

    QString errors;
    const int exitCode = runWriter({QStringLiteral("ChNum"), QStringLiteral("0"), value}, asNobody, &errors);
    if (refused.isEmpty()) {
        QVERIFY2(exitCode == 0, qPrintable(errors));
    } else {
        QCOMPARE(exitCode, 1);
        QCOMPARE(errors,
                 QStringLiteral("The setting ChNum could not be saved to %1: %2.")
                     .arg(link, QString(refused).replace(QStringLiteral("{folder}"), folder)));
    }

    const bool changed = refused.isEmpty() && value != QLatin1String("4");
    QCOMPARE(fileBytes(file),
             changed ? QByteArray(original).replace("ChNum=4", "ChNum=" + value.toLatin1()) : original);
    const struct stat after = statusOf(file);
    QCOMPARE(after.st_ino != before.st_ino, changed); // untouched unless saved
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(entries(QFileInfo(file).path()), QStringList{QFileInfo(file).fileName()});
    if (setup == Setup::Symlink) {
        QCOMPARE(QFile::symLinkTarget(link), file);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(entries(folder), QStringList{QStringLiteral("QUELTOR.conf")});
    }
}

void TestSettingsFaults::twoPanelsSavingDifferentKeys()
{
    constexpr int kSaves = 40;
    TempConfig config;
    const QString file = config.fileName();
    const QByteArray head("; the user's own notes\n[Ports]\nCOM1=/dev/ttyQUELTOR-test, by hand\n[Settings]\n");
    QVERIFY(putFile(file, head + "ChNum=start\nComPort=start\n"));
    // Long texts, so a save caught half-way could not pass for a whole one.
    const QString keys[2] = {QStringLiteral("ChNum"), QStringLiteral("ComPort")};
    QStringList values[2];
    for (int i = 1; i <= kSaves; ++i) {
        values[0] << QStringLiteral("first-%1-%2").arg(QString(900, QLatin1Char('a'))).arg(i);
        values[1] << QStringLiteral("second-%1-%2").arg(QString(900, QLatin1Char('b'))).arg(i);
    }

    QProcess writers[2];
    for (int i = 0; i < 2; ++i) {
        writers[i].setProcessChannelMode(QProcess::SeparateChannels);
        writers[i].start(QStringLiteral(QUELTOR_SETTINGS_WRITER),
                         QStringList{keys[i], QStringLiteral("5")} + values[i]);
    }
    QVERIFY(writers[0].waitForStarted() && writers[1].waitForStarted());

    // Watch the file as a third program would, while both save: always whole,
    // every line but the two values as it was, each value one that was saved.
    QElapsedTimer clock;
    clock.start();
    int looks = 0;
    const auto valuesOf = [&](const QByteArray &bytes) {
        QList<QByteArray> lines = bytes.mid(head.size()).split('\n');
        QStringList found;
        if (!bytes.startsWith(head) || lines.size() != 3 || !lines.last().isEmpty())
            return found;
        for (int i = 0; i < 2; ++i) {
            const QByteArray prefix = keys[i].toLatin1() + '=';
            const QString value = QString::fromLatin1(lines[i].mid(prefix.size()));
            if (lines[i].startsWith(prefix) && (value == QLatin1String("start") || values[i].contains(value)))
                found << value;
        }
        return found;
    };
    while ((writers[0].state() != QProcess::NotRunning || writers[1].state() != QProcess::NotRunning)
           && clock.elapsed() < 50000) {
        const QByteArray bytes = fileBytes(file);
        QVERIFY2(valuesOf(bytes).size() == 2,
                 qPrintable(QStringLiteral("look %1 found %2 bytes: %3...")
                                .arg(looks)
                                .arg(bytes.size())
                                .arg(QString::fromLatin1(bytes.left(200)))));
        ++looks;
        QCoreApplication::processEvents(); // lets QProcess see an exit
    }
    QStringList longest;
    for (QProcess &writer : writers) {
        QVERIFY(writer.state() == QProcess::NotRunning || writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
        QVERIFY2(writer.exitCode() == 0, writer.readAllStandardError().constData());
        longest << QString::fromLatin1(writer.readAllStandardOutput().trimmed());
    }
    qInfo("%d saves each in %lld ms, the longest save %s ms; %d looks at the file", kSaves, clock.elapsed(),
          qPrintable(longest.join(QStringLiteral(" and "))), looks);

    // Neither lost the other's change: both last values are there.
    QCOMPARE(valuesOf(fileBytes(file)), (QStringList{values[0].last(), values[1].last()}));
    QSettings check(file, QSettings::IniFormat);
    QCOMPARE(check.status(), QSettings::NoError);
    QCOMPARE(check.value(QStringLiteral("Settings/ComPort")).toString(), values[1].last());
    QCOMPARE(SettingsStore().portDevice(1), std::optional<QByteArray>("/dev/ttyQUELTOR-test, by hand"));
    QVERIFY(!QFile::exists(file + QStringLiteral(".lock")));
}

QTEST_MAIN(TestSettingsFaults)
#include "test_settings_faults.moc"
