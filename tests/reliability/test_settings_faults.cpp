// The settings file damaged, huge, blocked or fought over: the panel always
// comes up and works, says clearly when a choice cannot be saved, and leaves a
// file that reads back whole.
#include "panel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

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

QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QString savedValue(const QString &file, const QString &key)
{
    QSettings settings(file, QSettings::IniFormat);
    return settings.value(QStringLiteral("Settings/") + key).toString();
}

// The device map kept where an administrator would keep it, beside the user's
// own file: the panel still finds its device while that file is damaged or blocked.
class SystemPorts
{
public:
    explicit SystemPorts(const QString &com1)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir.path());
        QSettings system(m_dir.path() + QStringLiteral("/QUELTOR/QUELTOR.conf"), QSettings::IniFormat);
        system.setValue(QStringLiteral("Ports/COM1"), com1);
        system.sync();
    }
    ~SystemPorts() { QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("/etc/xdg")); }

private:
    QTemporaryDir m_dir;
};

// Where the user's settings would live when XDG_CONFIG_HOME points at home.
void moveConfigHome(const QString &home)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home);
}

enum class Fault { Garbage, HugeGarbage, HugeValid, Directory, HomeUnderFile, HomeReadOnly };

} // namespace

class TestSettingsFaults : public QObject
{
    Q_OBJECT
private slots:
    void panelSurvivesSettingsFault_data();
    void panelSurvivesSettingsFault();
    void twoPanelsSavingAtOnce();
};

void TestSettingsFaults::panelSurvivesSettingsFault_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("savable"); // whether a save can get through while the fault stands
    QTest::addColumn<int>("channels"); // the bank it comes up with

    QTest::newRow("garbage bytes") << Fault::Garbage << true << 20;
    QTest::newRow("10 MB of garbage") << Fault::HugeGarbage << true << 20;
    QTest::newRow("10 MB file with ChNum=3") << Fault::HugeValid << true << 40;
    QTest::newRow("directory in place of the file") << Fault::Directory << false << 20;
    QTest::newRow("config home under a regular file") << Fault::HomeUnderFile << false << 20;
    QTest::newRow("config home without write permission") << Fault::HomeReadOnly << false << 20;
}

void TestSettingsFaults::panelSurvivesSettingsFault()
{
    QFETCH(Fault, fault);
    QFETCH(bool, savable);
    QFETCH(int, channels);

    Panel panel;
    const SystemPorts ports(panel.com1.slavePath());
    QString file = panel.config.fileName();
    QVERIFY(QFile::remove(file)); // the fixture's own map is replaced by the fault
    QString blocker;              // what stops a save, removed at the end to show the panel recovers

    switch (fault) {
    case Fault::Garbage:
        QVERIFY(putFile(file, noise(4096, 7)));
        break;
    case Fault::HugeGarbage:
        QVERIFY(putFile(file, noise(10 * 1024 * 1024, 11)));
        break;
    case Fault::HugeValid:
        QVERIFY(putFile(file, "[Settings]\nChNum=3\n[Notes]\nText=" + QByteArray(10 * 1024 * 1024, 'n') + "\n"));
        break;
    case Fault::Directory:
        QVERIFY(QDir().mkpath(file));
        blocker = file;
        break;
    case Fault::HomeUnderFile: {
        const QString plain = panel.config.path() + QStringLiteral("/plain");
        QVERIFY(putFile(plain, "not a directory"));
        moveConfigHome(plain + QStringLiteral("/config"));
        file = plain + QStringLiteral("/config/QUELTOR/QUELTOR.conf");
        blocker = plain;
        break;
    }
    case Fault::HomeReadOnly: {
        if (::geteuid() == 0)
            QSKIP("root writes through permission bits; the two blocked cases above stop root as well");
        const QString home = panel.config.path() + QStringLiteral("/readonly");
        QVERIFY(QDir().mkpath(home));
        QVERIFY(QFile::setPermissions(home, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        moveConfigHome(home);
        file = home + QStringLiteral("/QUELTOR/QUELTOR.conf");
        blocker = home;
        break;
    }
    }

    QElapsedTimer clock;
    clock.start();
    panel.start();
    const qint64 startMs = clock.elapsed();
    qInfo("window up in %lld ms", startMs);
    QVERIFY2(startMs < 20000, qPrintable(QString::number(startMs)));
    QVERIFY(panel.window->isVisible());
    QCOMPARE(panel.window->channelCount(), channels);

    const QString cannotSave =
        QStringLiteral("The setting ChNum could not be saved to %1: the file cannot be written.").arg(file);
    if (savable) {
        QCOMPARE(panel.messages.count(), 0);
    } else {
        QCOMPARE(panel.messages.count(), 1);
        QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("QUELTOR"));
        QCOMPARE(panel.messages.lastText(), cannotSave);
    }

    // The panel works all the same.
    QVERIFY(panel.window->port().portOpen());
    panel.click(5);
    QCOMPARE(panel.com1.readAll(), QByteArray("V05\r\n"));

    // A new choice takes effect whether or not it can be kept.
    panel.messages.clear();
    panel.choose(QStringLiteral("mnuChNum(3)"));
    QCOMPARE(panel.window->channelCount(), 40);
    if (savable) {
        QCOMPARE(panel.messages.count(), 0);
        QCOMPARE(savedValue(file, QStringLiteral("ChNum")), QStringLiteral("3"));
        QSettings check(file, QSettings::IniFormat);
        QCOMPARE(check.status(), QSettings::NoError);
        if (fault == Fault::HugeValid) // what the panel does not know it keeps
            QCOMPARE(check.value(QStringLiteral("Notes/Text")).toString().size(), 10 * 1024 * 1024);
    } else {
        QCOMPARE(panel.messages.count(), 1);
        QCOMPARE(panel.messages.lastText(), cannotSave);
        // Nothing, not even part of a file, was left where the file should be.
        QVERIFY(!QFileInfo(file).isFile());
        if (fault == Fault::Directory)
            QVERIFY(QDir(file).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));

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
        QCOMPARE(panel.messages.count(), 0);
        QCOMPARE(panel.window->channelCount(), 60);
        QCOMPARE(savedValue(file, QStringLiteral("ChNum")), QStringLiteral("5"));
    }

    // And the next window starts from what was kept.
    panel.window.reset();
    panel.messages.clear();
    panel.start();
    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(panel.window->channelCount(), savable ? 40 : 60);
}

void TestSettingsFaults::twoPanelsSavingAtOnce()
{
    constexpr int kSaves = 60;
    constexpr int kPauseMs = 5;
    TempConfig config;
    config.mapPort(1, QStringLiteral("/dev/ttyQUELTOR-test"));
    config.setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("start"));
    // Long texts, so a save caught half-way could not pass for a whole one.
    const QString first = QStringLiteral("first-") + QString(20000, QLatin1Char('a'));
    const QString second = QStringLiteral("second-") + QString(20000, QLatin1Char('b'));
    const QString file = config.fileName();

    QProcess writers[2];
    const QString values[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        writers[i].setProcessChannelMode(QProcess::SeparateChannels);
        writers[i].start(QStringLiteral(QUELTOR_SETTINGS_WRITER),
                         {QStringLiteral("W%1").arg(i), values[i], QString::number(kSaves), QString::number(kPauseMs)});
    }
    QVERIFY(writers[0].waitForStarted() && writers[1].waitForStarted());

    // Watch the file as a third program would, while both save.
    QElapsedTimer clock;
    clock.start();
    int looks = 0;
    int seen[3] = {0, 0, 0}; // start, first, second
    while ((writers[0].state() != QProcess::NotRunning || writers[1].state() != QProcess::NotRunning)
           && clock.elapsed() < 50000) {
        QFile raw(file);
        QVERIFY2(raw.open(QIODevice::ReadOnly), qPrintable(raw.errorString()));
        const QByteArray bytes = raw.readAll();
        raw.close();
        const QList<QByteArray> lines = bytes.split('\n');
        QVERIFY2(lines.contains("[Ports]") && lines.contains("COM1=/dev/ttyQUELTOR-test"),
                 qPrintable(QStringLiteral("look %1: the port map is gone").arg(looks)));
        QByteArray value;
        int valueLines = 0;
        for (const QByteArray &line : lines) {
            if (line.startsWith("ChNum=")) {
                value = line.mid(6);
                ++valueLines;
            }
        }
        QCOMPARE(valueLines, 1);
        const int which = value == "start" ? 0 : value == first.toLatin1() ? 1 : value == second.toLatin1() ? 2 : -1;
        QVERIFY2(which >= 0,
                 qPrintable(QStringLiteral("look %1 found ChNum of %2 bytes: %3...")
                                .arg(looks)
                                .arg(value.size())
                                .arg(QString::fromLatin1(value.left(40)))));
        ++seen[which];
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
    qInfo("%d saves each in %lld ms, the longest save %s ms; %d looks at the file saw start %d, first %d, "
          "second %d times",
          kSaves, clock.elapsed(), qPrintable(longest.join(QStringLiteral(" and "))), looks, seen[0], seen[1], seen[2]);
    QVERIFY(looks > 0);

    // Afterwards: one of the two whole values, both tallies and the map, readable by the panel's store.
    QSettings check(file, QSettings::IniFormat);
    QCOMPARE(check.status(), QSettings::NoError);
    QCOMPARE(check.value(QStringLiteral("Settings/SavedW0")).toString(), QString::number(kSaves));
    QCOMPARE(check.value(QStringLiteral("Settings/SavedW1")).toString(), QString::number(kSaves));
    const SettingsStore store;
    const QString last = store.read(SettingsStore::kChNum);
    QVERIFY(last == first || last == second);
    QCOMPARE(store.portDevice(1), QStringLiteral("/dev/ttyQUELTOR-test"));
    QVERIFY(!QFile::exists(file + QStringLiteral(".lock")));
}

QTEST_MAIN(TestSettingsFaults)
#include "test_settings_faults.moc"
