// The real queltor-ctl, alone and beside the real panel binary, on
// pseudo-terminals: its command line, a select with no panel, one panel per
// settings file, a killed panel's socket, a stopped panel, and a stranger on
// the socket.
#include "link/settings_store.h"
#include "remote/panel_socket.h"

#include "programs.h"
#include "pseudo_tty.h"
#include "stand_in_panel.h"
#include "temp_config.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

class TestCtl : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void commandLine_data();
    void commandLine();
    void withoutPanel_data();
    void withoutPanel();
    void throughThePanel();
    void watchFollowsThePanelToItsEnd();
    void panelPerSettingsFile();
    void deviceForOneRun();
    void stoppedPanelDoesNotActLate();
    void unknownOutcomeHasItsOwnStatus();
    void strangersAreCutOff();

private:
    std::unique_ptr<TempConfig> m_config;
    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<Pty> m_com1;
    std::unique_ptr<Pty> m_com2;
};

void TestCtl::init()
{
    m_config = std::make_unique<TempConfig>();
    m_runtime = std::make_unique<QTemporaryDir>();
    qputenv("XDG_RUNTIME_DIR", m_runtime->path().toLocal8Bit());
    m_com1 = std::make_unique<Pty>();
    m_com2 = std::make_unique<Pty>();
    m_config->mapPort(1, m_com1->slavePath());
    m_config->mapPort(2, m_com2->slavePath());
}

void TestCtl::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out"); // how each begins
    QTest::addColumn<QByteArray>("err");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                            << QByteArray("Usage: queltor-ctl [--config FILE] select CH\n") << QByteArray();
    QTest::newRow("--version") << QStringList{QStringLiteral("status"), QStringLiteral("--version")} << 0
                               << QByteArray("queltor-ctl " QUELTOR_VERSION "\n") << QByteArray();
    const QByteArray usage("queltor-ctl: usage: ");
    for (const QString &args :
         {QString(), QStringLiteral("select"), QStringLiteral("select 100"), QStringLiteral("select 7 8"),
          QStringLiteral("select x"), QStringLiteral("status now"), QStringLiteral("scan --start 3 --end 9"),
          QStringLiteral("scan --start 3 --end 9 --term .5"), QStringLiteral("scan --start=3 --end=9 --term=0.5 --x=1"),
          QStringLiteral("raise"), QStringLiteral("watch now")})
        QTest::newRow(qPrintable(QLatin1Char('"') + args + QLatin1Char('"')))
            << args.split(QLatin1Char(' '), Qt::SkipEmptyParts) << 2 << QByteArray() << usage;
}

void TestCtl::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    const Run result = ctl(args);
    QCOMPARE(result.status, status);
    QVERIFY2(result.out.startsWith(out), result.out.constData());
    QVERIFY2(result.err.startsWith(err), result.err.constData());
    QCOMPARE(result.err.count('\n'), err.isEmpty() ? 0 : 1);
    QCOMPARE(m_com1->readAll(), QByteArray());
}

void TestCtl::withoutPanel_data()
{
    QTest::addColumn<QStringList>("settings"); // KEY=VALUE under [Settings]
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("com1");
    QTest::addColumn<QByteArray>("com2");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err"); // %1 is COM1's device

    QTest::newRow("select") << QStringList{} << "select 7" << 0 << commands({7}) << QByteArray() << QByteArray()
                            << QByteArray();
    QTest::newRow("stored port and bank") << QStringList{"ComPort=2", "ChNum=9"} << "select 42" << 0 << QByteArray()
                                          << commands({42}) << QByteArray() << QByteArray();
    QTest::newRow("outside the stored bank")
        << QStringList{} << "select 20" << 1 << QByteArray() << QByteArray() << QByteArray()
        << QByteArray("queltor-ctl: channel: channel 20 is not in the bank of 20 channels, 00 to 19\n");
    QTest::newRow("port held by another program")
        << QStringList{"Held=1"} << "select 7" << 1 << QByteArray() << QByteArray() << QByteArray()
        << QByteArray("queltor-ctl: port: COM1 (%1) could not be opened: the port is in use by test_ctl (PID ");
    QTest::newRow("unusable stored port, as the panel: COM1")
        << QStringList{"ComPort=abc"} << "select 07" << 0 << commands({7}) << QByteArray() << QByteArray()
        << QByteArray("queltor-ctl: warning: The stored setting ComPort (\"abc\") is not used: it is not a port "
                      "number of 1 to 255. COM1 is used instead.\n");
    QTest::newRow("status") << QStringList{} << "status" << 3 << QByteArray() << QByteArray()
                            << QByteArray("{\"panel\":false}\n") << QByteArray();
    QTest::newRow("watch") << QStringList{} << "watch" << 3 << QByteArray() << QByteArray()
                           << QByteArray("{\"panel\":false}\n") << QByteArray();
    QTest::newRow("scan") << QStringList{} << "scan --start 1 --end 2 --term 1" << 3 << QByteArray() << QByteArray()
                          << QByteArray() << QByteArray("queltor-ctl: no-panel: no QUELTOR panel is running for ");
    QTest::newRow("stop") << QStringList{} << "stop" << 3 << QByteArray() << QByteArray() << QByteArray()
                          << QByteArray("queltor-ctl: no-panel: ");
}

void TestCtl::withoutPanel()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, args);
    QFETCH(int, status);
    QFETCH(QByteArray, com1);
    QFETCH(QByteArray, com2);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QSerialPort holder(m_com1->slavePath());
    for (const QString &pair : settings) {
        if (pair == QLatin1String("Held=1"))
            QVERIFY(holder.open(QIODevice::WriteOnly));
        else
            m_config->setValue(QStringLiteral("Settings"), pair.section(QLatin1Char('='), 0, 0),
                               pair.section(QLatin1Char('='), 1));
    }
    const Run result = ctl(args.split(QLatin1Char(' ')));
    QCOMPARE(result.status, status);
    QCOMPARE(result.out, out);
    if (err.contains("%1"))
        err = QString::fromLatin1(err).arg(m_com1->slavePath()).toUtf8();
    QVERIFY2(result.err.startsWith(err), result.err.constData());
    QCOMPARE(result.err.count('\n'), err.isEmpty() ? 0 : 1);
    QCOMPARE(m_com1->readAll(), com1);
    QCOMPARE(m_com2->readAll(), com2);
}

void TestCtl::throughThePanel()
{
    PanelProcess panel;
    QVERIFY(panel.serving());
    QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("07")}).status, 0);
    QCOMPARE(m_com1->read(5, 2000), commands({7}));
    const Run status = ctl({QStringLiteral("status")});
    QCOMPARE(status.status, 0);
    const QJsonObject shown = QJsonDocument::fromJson(status.out).object();
    QCOMPARE(shown[QStringLiteral("channel")].toInt(), 7);
    QCOMPARE(shown[QStringLiteral("connected")].toBool(), true);
    QCOMPARE(shown[QStringLiteral("device")].toString(), m_com1->slavePath());

    // A second start of the same settings file brings the first forward and ends.
    const Run second = run(QStringLiteral(QUELTOR_PANEL), {});
    QCOMPARE(second.status, 0);
    QVERIFY(panel.running());
    QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("08")}).status, 0);
    QCOMPARE(m_com1->read(5, 2000), commands({8}));

    // A panel of another config home is a panel of its own.
    {
        TempConfig otherHome;
        Pty otherPort;
        otherHome.mapPort(1, otherPort.slavePath());
        PanelProcess other;
        QVERIFY(other.serving());
        QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("09")}).status, 0);
        QCOMPARE(otherPort.read(5, 2000), commands({9}));
        qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    }
    QCOMPARE(m_com1->readAll(), QByteArray());

    // Killed, the panel leaves its socket; nobody answers there, and the next panel takes it over.
    panel.kill();
    QCOMPARE(ctl({QStringLiteral("status")}).status, 3);
    PanelProcess next;
    QVERIFY(next.serving());
    QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("05")}).status, 0);
    QCOMPARE(m_com1->read(5, 2000), commands({5}));
}

void TestCtl::watchFollowsThePanelToItsEnd()
{
    PanelProcess panel;
    QVERIFY(panel.serving());
    QProcess watch;
    watch.start(QStringLiteral(QUELTOR_CTL), {QStringLiteral("watch")});
    const auto nextLine = [&watch] {
        const QDeadlineTimer deadline(10000);
        while (!watch.canReadLine() && !deadline.hasExpired())
            watch.waitForReadyRead(100);
        return QJsonDocument::fromJson(watch.readLine()).object();
    };
    QCOMPARE(nextLine()[QStringLiteral("channel")].toInt(), 0);
    QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("07")}).status, 0);
    QCOMPARE(nextLine()[QStringLiteral("channel")].toInt(), 7);
    QCOMPARE(m_com1->read(5, 2000), commands({7}));

    panel.terminate();
    const QJsonObject end = nextLine();
    QCOMPARE(end.keys(), QStringList{QStringLiteral("panel")});
    QCOMPARE(end[QStringLiteral("panel")], QJsonValue(false));
    QVERIFY(watch.waitForFinished(5000));
    QCOMPARE(watch.exitCode(), 3);
    QCOMPARE(watch.readAllStandardError(), QByteArray());
}

// Two switchers on one desk: a settings file each, named on the command line.
void TestCtl::panelPerSettingsFile()
{
    QTemporaryDir dir;
    Pty deviceA;
    Pty deviceB;
    const QString fileA = dir.filePath(QStringLiteral("a.conf"));
    const QString fileB = dir.filePath(QStringLiteral("b.conf"));
    QSettings(fileA, QSettings::IniFormat).setValue(QStringLiteral("Ports/COM1"), deviceA.slavePath());
    QSettings(fileB, QSettings::IniFormat).setValue(QStringLiteral("Ports/COM1"), deviceB.slavePath());
    const QStringList configA{QStringLiteral("--config"), fileA};
    const QStringList configB{QStringLiteral("--config"), fileB};
    PanelProcess panelA(configA);
    PanelProcess panelB(configB);
    QVERIFY(panelA.serving(configA));
    QVERIFY(panelB.serving(configB));
    QCOMPARE(ctl(configB + QStringList{QStringLiteral("select"), QStringLiteral("09")}).status, 0);
    QCOMPARE(deviceB.read(5, 2000), commands({9}));
    QCOMPARE(deviceA.readAll(), QByteArray());
    QCOMPARE(ctl(configA + QStringList{QStringLiteral("select"), QStringLiteral("03")}).status, 0);
    QCOMPARE(deviceA.read(5, 2000), commands({3}));
    QCOMPARE(deviceB.readAll(), QByteArray());
    // The user's own file names no panel of the two.
    QCOMPARE(ctl({QStringLiteral("status")}).status, 3);
    QCOMPARE(m_com1->readAll(), QByteArray());
}

void TestCtl::deviceForOneRun()
{
    Pty once;
    m_config->setValue(QStringLiteral("Settings"), QStringLiteral("ChNum"), QStringLiteral("1"));
    QFile file(m_config->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    {
        PanelProcess panel({QStringLiteral("--device"), once.slavePath()});
        QVERIFY(panel.serving());
        const Run status = ctl({QStringLiteral("status")});
        QCOMPARE(QJsonDocument::fromJson(status.out).object()[QStringLiteral("device")].toString(), once.slavePath());
        QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("05")}).status, 0);
        QCOMPARE(once.read(5, 2000), commands({5}));
    }
    QCOMPARE(m_com1->readAll(), QByteArray());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

// "timeout" means not done: a panel stopped past the request's deadline never sends it.
void TestCtl::stoppedPanelDoesNotActLate()
{
    PanelProcess panel;
    QVERIFY(panel.serving());
    panel.signal(SIGSTOP);
    const auto resume = qScopeGuard([&panel] { panel.signal(SIGCONT); });
    const Run late = ctl({QStringLiteral("select"), QStringLiteral("04")});
    QCOMPARE(late.status, 1);
    QCOMPARE(late.err,
             QByteArray("queltor-ctl: timeout: the panel did not take the request within 5 seconds; "
                        "nothing was done\n"));
    panel.signal(SIGCONT);
    // Going again, it finds the late request first, and drops it.
    QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("05")}).status, 0);
    QCOMPARE(m_com1->read(5, 2000), commands({5}));
    QCOMPARE(m_com1->readAll(), QByteArray());
}

// A panel that starts on the request and ends without a word, as one killed
// mid-way would: whether it was done cannot be known, and the status says so.
void TestCtl::unknownOutcomeHasItsOwnStatus()
{
    StandInPanel panel(queltor::panelSocketPath(queltor::SettingsStore().fileName()), StandInPanel::Act::TakeThenClose);
    const Run result = ctl({QStringLiteral("select"), QStringLiteral("07")});
    QCOMPARE(result.status, 4);
    QVERIFY2(result.err.startsWith("queltor-ctl: unknown: "), result.err.constData());
    QCOMPARE(m_com1->readAll(), QByteArray());
}

void TestCtl::strangersAreCutOff()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to connect as another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    // The system's own: one under /root would be out of the stranger's reach.
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    const passwd *nobody = ::getpwnam("nobody");
    QVERIFY(!setpriv.isEmpty() && !python.isEmpty() && nobody);

    PanelProcess panel;
    QVERIFY(panel.serving());
    // As if the folder and the socket had been opened to everyone: the panel still refuses.
    const QString socket = QDir(m_runtime->path()).entryList({QStringLiteral("*.socket")}, QDir::System).value(0);
    QVERIFY(!socket.isEmpty());
    const QString path = m_runtime->filePath(socket);
    QVERIFY(QFile::setPermissions(m_runtime->path(), QFile::Permissions(0x7711)));
    QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x6666)));
    // Prints what the panel answered, or "cut off".
    const QString client = QStringLiteral("import socket, sys\n"
                                          "s = socket.socket(socket.AF_UNIX)\n"
                                          "s.connect(sys.argv[1])\n"
                                          "try:\n"
                                          "    s.sendall(b'select 07\\n')\n"
                                          "    print(s.recv(100).decode() or 'cut off')\n"
                                          "except OSError:\n"
                                          "    print('cut off')\n");
    const Run stranger = run(setpriv,
                             {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                              QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups"),
                              python, QStringLiteral("-c"), client, path});
    QVERIFY2(stranger.status == 0, stranger.err.constData()); // it connected
    QCOMPARE(stranger.out, QByteArray("cut off\n"));
    QCOMPARE(m_com1->readAll(), QByteArray());
    QVERIFY(QFile::setPermissions(m_runtime->path(), QFile::Permissions(0x7700)));
    QCOMPARE(ctl({QStringLiteral("select"), QStringLiteral("07")}).status, 0);
    QCOMPARE(m_com1->read(5, 2000), commands({7}));
}

QTEST_GUILESS_MAIN(TestCtl)
#include "test_ctl.moc"
