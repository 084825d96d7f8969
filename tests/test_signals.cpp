// The real panel, ended the way a session ends it (logout, shutdown, kill,
// Ctrl+C): it closes its port as File > Exit does, so no lock file is left for
// the next user, the line settings are put back, and it ends with status 0.
// A broken pipe (SIGPIPE, an output nobody reads) never ends it, nor any
// other program we ship.
#include "lock_files.h"
#include "pseudo_tty.h"
#include "temp_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace queltor;

namespace {

// The panel, started as a desktop would start it.
struct RunningPanel
{
    QProcess process;

    RunningPanel()
    {
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(QUELTOR_BINARY), {});
    }
    ~RunningPanel()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    qint64 pid() const { return process.processId(); }

    // Whether it holds an inotify watch: the link waits for a device.
    bool watching() const
    {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid());
        for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot))
            if (QFileInfo(fds + QLatin1Char('/') + fd).symLinkTarget().endsWith(QLatin1String("inotify")))
                return true;
        return false;
    }
};

bool lockedBy(const QString &lock, qint64 pid) { return lockHolderIn(lock) == pid; }

} // namespace

class TestSignals : public QObject
{
    Q_OBJECT
private slots:
    void signalEndsPanelCleanly_data();
    void signalEndsPanelCleanly();
    void signalDuringStartUpMessage();
    void closedOutputDoesNotEndPanel();
    void closedOutputEndsNoProgram_data();
    void closedOutputEndsNoProgram();
};

void TestSignals::signalEndsPanelCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("ends"); // else it is ignored, and SIGTERM ends the panel
    QTest::newRow("SIGTERM") << SIGTERM << true;
    QTest::newRow("SIGHUP") << SIGHUP << true;
    QTest::newRow("SIGINT") << SIGINT << true;
    QTest::newRow("SIGPIPE") << SIGPIPE << false;
}

void TestSignals::signalEndsPanelCleanly()
{
    QFETCH(int, signal);
    QFETCH(bool, ends);
    TempConfig config;
    Pty pty;
    QVERIFY(pty.isValid());
    config.mapPort(1, pty.slavePath());
    // A cooked line at another speed, unlike the panel's raw 9600, to see it come back.
    termios before = pty.slaveSettings();
    ::cfsetospeed(&before, B115200);
    ::cfsetispeed(&before, B115200);
    before.c_lflag |= ICANON | ECHO;
    before.c_oflag |= OPOST;
    {
        const int fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        QCOMPARE(::tcsetattr(fd, TCSANOW, &before), 0);
        ::close(fd);
    }
    const QString lock = lockFileOf(pty.slavePath());

    RunningPanel first;
    QVERIFY(first.process.waitForStarted());
    // The lock file comes first, then the line settings.
    const auto opened = [&pty] {
        const termios during = pty.slaveSettings();
        return ::cfgetospeed(&during) == B9600 && !(during.c_lflag & ICANON);
    };
    QTRY_VERIFY_WITH_TIMEOUT(lockedBy(lock, first.pid()) && opened(), 20000);

    QCOMPARE(::kill(static_cast<pid_t>(first.pid()), signal), 0);
    if (!ends) {
        QVERIFY(!first.process.waitForFinished(300));
        QVERIFY(lockedBy(lock, first.pid()) && opened());
        QCOMPARE(::kill(static_cast<pid_t>(first.pid()), SIGTERM), 0);
    }
    QVERIFY(first.process.waitForFinished(20000));
    QCOMPARE(first.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.process.exitCode(), 0);
    QVERIFY2(!QFile::exists(lock), qPrintable(lock));
    const termios after = pty.slaveSettings();
    QCOMPARE(::cfgetospeed(&after), speed_t(B115200));
    QCOMPARE(after.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    QCOMPARE(after.c_oflag & OPOST, tcflag_t(OPOST));

    // The next panel gets the port at once.
    RunningPanel second;
    QVERIFY(second.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(lockedBy(lock, second.pid()), 20000);
    QCOMPARE(::kill(static_cast<pid_t>(second.pid()), SIGTERM), 0);
    QVERIFY(second.process.waitForFinished(20000));
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(!QFile::exists(lock));
}

// Told to end while start-up's message box is up, before the event loop runs:
// it ends there rather than going on to show the window.
void TestSignals::signalDuringStartUpMessage()
{
    TempConfig config;
    config.mapPort(1, config.path() + QStringLiteral("/unplugged"));
    RunningPanel panel;
    QVERIFY(panel.process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(panel.watching(), 20000);
    QCOMPARE(::kill(static_cast<pid_t>(panel.pid()), SIGTERM), 0);
    QVERIFY(panel.process.waitForFinished(20000));
    QCOMPARE(panel.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.process.exitCode(), 0);
}

// As "queltor 2>&1 | true" starts it: the warning it prints at start-up (here,
// that scripts get no socket) goes to a pipe nobody reads.
void TestSignals::closedOutputDoesNotEndPanel()
{
    TempConfig config;
    Pty pty;
    QVERIFY(pty.isValid());
    config.mapPort(1, pty.slavePath());
    QTemporaryDir runtime;
    QString deep = runtime.path();
    while (deep.size() < 120)
        deep += QStringLiteral("/runtime");
    QVERIFY(QDir().mkpath(deep));
    QVERIFY(QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    int ends[2] = {-1, -1};
    QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);

    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), deep);
    panel.setProcessEnvironment(environment);
    panel.setChildProcessModifier([output = ends[1]] {
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
    });
    panel.start(QStringLiteral(QUELTOR_BINARY), {});
    ::close(ends[1]);
    QVERIFY(panel.waitForStarted());
    const auto end = qScopeGuard([&panel] {
        panel.kill();
        panel.waitForFinished();
    });
    const QString lock = lockFileOf(pty.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT(lockedBy(lock, panel.processId()) || panel.state() == QProcess::NotRunning, 20000);
    QCOMPARE(panel.state(), QProcess::Running);
    QCOMPARE(::kill(static_cast<pid_t>(panel.processId()), SIGTERM), 0);
    QVERIFY(panel.waitForFinished(20000));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 0);
}

void TestSignals::closedOutputEndsNoProgram_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("queltor-ctl") << QStringLiteral(QUELTOR_CTL);
    QTest::newRow("queltor-devsim") << QStringLiteral(QUELTOR_DEVSIM);
    QTest::newRow("queltor-web") << QStringLiteral(QUELTOR_WEB);
}

// "queltor-web --help | true": the write fails, and the program still ends by itself.
void TestSignals::closedOutputEndsNoProgram()
{
    QFETCH(QString, program);
    int ends[2] = {-1, -1};
    QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    QProcess process;
    process.setChildProcessModifier([output = ends[1]] {
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
    });
    process.start(program, {QStringLiteral("--help")});
    ::close(ends[1]);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
}

QTEST_GUILESS_MAIN(TestSignals)
#include "test_signals.moc"
