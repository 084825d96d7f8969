// The real queltor-devsim binary, driven through its published links by a real
// QSerialPort and by the panel's own port class.
#include "channel/command.h"
#include "link/serial_port.h"
#include "link/settings_store.h"

#include "temp_config.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kStamp = QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d\d\d )");

// One run of the simulator with its output gathered line by line. Its
// standard input is a pipe, or the FIFO named by fifo.
class Devsim
{
public:
    explicit Devsim(const QStringList &args, const QString &fifo = {})
        : m_fifo(fifo)
    {
        m_process.setProgram(QStringLiteral(DEVSIM_BINARY));
        m_process.setArguments(args);
        // Held while the simulator starts, so that its end is opened without waiting for a writer.
        const int holder = fifo.isEmpty() ? -1 : ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_CLOEXEC);
        if (!fifo.isEmpty())
            m_process.setStandardInputFile(fifo);
        m_process.start();
        if (holder >= 0)
            ::close(holder);
    }

    ~Devsim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    // Waits until a line matches pattern (timestamp stripped); true when one did.
    bool waitFor(const QString &pattern, int timeoutMs = 5000)
    {
        const QRegularExpression expression(pattern);
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (; m_seen < m_lines.size(); ++m_seen) {
                if (expression.match(m_lines[m_seen]).hasMatch()) {
                    ++m_seen;
                    return true;
                }
            }
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(50);
            gather();
        }
    }

    bool waitReady(int ports)
    {
        for (int i = 0; i < ports; ++i)
            if (!waitFor(QStringLiteral(" ready at ")))
                return false;
        return true;
    }

    // Sends the signal and waits for the end; the exit code, or -1.
    int stop(int signal = SIGTERM)
    {
        ::kill(pid_t(m_process.processId()), signal);
        return waitForExit();
    }

    // Stopped, it reads nothing: what happens to the port meanwhile reaches it all at once.
    void pause(bool paused) { ::kill(pid_t(m_process.processId()), paused ? SIGSTOP : SIGCONT); }

    int waitForExit(int timeoutMs = 5000)
    {
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        gather();
        return m_process.exitCode();
    }

    // Every line with its time stamp removed; fails the test if one lacks it.
    QStringList lines()
    {
        gather();
        return m_lines;
    }

    QString errorOutput() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

    // A line on the simulator's standard input; into a FIFO, by a writer of its own, as echo would.
    bool type(const QByteArray &line)
    {
        if (m_fifo.isEmpty())
            return m_process.write(line + '\n') == line.size() + 1 && m_process.waitForBytesWritten(2000);
        const QByteArray bytes = line + '\n';
        const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_CLOEXEC);
        const bool written = fd >= 0 && ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
        return fd >= 0 && ::close(fd) == 0 && written;
    }

    // The end of the input; into a FIFO, every line had its own.
    void endInput()
    {
        if (m_fifo.isEmpty())
            m_process.closeWriteChannel();
    }

private:
    void gather()
    {
        m_buffer += m_process.readAllStandardOutput();
        int end = 0;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            QString line = QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
            line.remove(QRegularExpression(kStamp));
            m_lines << line;
        }
    }

    QString m_fifo;
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
    int m_seen = 0;
};

QStringList withPrefix(const QStringList &lines, const QString &prefix)
{
    QStringList picked;
    for (const QString &line : lines)
        if (line.startsWith(prefix))
            picked << line;
    return picked;
}

bool openAt(QSerialPort &port, const QString &path, qint32 baud = 9600, QSerialPort::DataBits bits = QSerialPort::Data8,
            QSerialPort::Parity parity = QSerialPort::NoParity, QSerialPort::StopBits stops = QSerialPort::OneStop)
{
    port.setPortName(path);
    port.setBaudRate(baud);
    port.setDataBits(bits);
    port.setParity(parity);
    port.setStopBits(stops);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::WriteOnly);
}

// Hands the bytes to the system at once, as the panel does.
bool send(QSerialPort &port, const QByteArray &bytes)
{
    return port.write(bytes) == bytes.size() && port.flush() && port.bytesToWrite() == 0;
}

// As a program that opens, writes and closes at once; it either sets the
// line to 9600 8N1 (QSerialPort, which puts back what it found on closing) or
// leaves the line as it finds it.
bool openWriteClose(const QString &path, int channel, bool setUp)
{
    if (setUp) {
        QSerialPort port;
        return openAt(port, path) && send(port, queltor::channelCommand(channel));
    }
    // The line as found turns LF into CR LF.
    const QByteArray bytes = queltor::channelCommand(channel).replace("\r\n", "\n");
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

} // namespace

class TestDevsimEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void commandsAndGarbageArePrintedAndCounted();
    void panelPortPassesTheCheckAndQuitAfterEnds();
    void wrongLineSettingsAreReported_data();
    void wrongLineSettingsAreReported();
    void settingsChangedWhileOpenAreReported();
    void closesTogetherEndTheSession();
    void quickOpenWriteCloseIsJudgedFairly_data();
    void quickOpenWriteCloseIsJudgedFairly();
    void unplugAndReplugOnStandardInput_data();
    void unplugAndReplugOnStandardInput();
    void partialLineAtStopCounts();
    void linksVanishOnSignals_data();
    void linksVanishOnSignals();
    void staleLinkIsReplacedAndFoldersMade();
    void fileInTheWayIsLeftAlone();
    void helpAndBadArguments();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestDevsimEndToEnd::commandsAndGarbageArePrintedAndCounted()
{
    const QString com1 = path("cg/COM1");
    const QString com2 = path("cg/COM2");
    Devsim sim({"--port", "COM1=" + com1, "--port", "COM2=" + com2});
    QVERIFY(sim.waitReady(2));
    QVERIFY(QFileInfo(com1).isSymLink());
    const QString pty1 = QFileInfo(com1).symLinkTarget();
    QVERIFY(pty1.startsWith("/dev/pts/"));

    QSerialPort port1;
    QVERIFY2(openAt(port1, com1), qPrintable(port1.errorString()));
    QVERIFY(sim.waitFor("^COM1 opened at 9600 baud, 1 stop bit: ok$"));
    QVERIFY(send(port1, "V07\r\n"));
    QVERIFY(sim.waitFor("^COM1 channel 07$"));
    QVERIFY(send(port1, "V42\r\nV7\r\n"));
    QVERIFY(send(port1, QByteArray("\x01\n", 2)));
    QVERIFY(sim.waitFor(R"(^COM1 error: "\\x01\\n" is not a channel command$)"));

    QSerialPort port2;
    QVERIFY(openAt(port2, com2));
    QVERIFY(send(port2, "V99\r\n"));
    QVERIFY(sim.waitFor("^COM2 channel 99$"));
    port2.close();
    QVERIFY(sim.waitFor("^COM2 closed$"));

    QVERIFY(send(port1, "V1"));
    port1.close();
    QVERIFY(sim.waitFor(R"(^COM1 error: "V1" was left unfinished when the port closed$)"));
    QVERIFY(sim.waitFor("^COM1 closed$"));

    QCOMPARE(sim.stop(), 1); // errors were received
    const QStringList lines = sim.lines();
    for (const QString &line : lines)
        QVERIFY2(line.startsWith("COM") || line.startsWith("summary "), qPrintable(line));
    QCOMPARE(withPrefix(lines, "COM1 ").value(0), "COM1 ready at " + com1 + " (" + pty1 + ")");
    const QStringList com1Lines = withPrefix(lines, "COM1 ").mid(1);
    QCOMPARE(com1Lines,
             QStringList({"COM1 opened at 9600 baud, 1 stop bit: ok", "COM1 channel 07", "COM1 channel 42",
                          R"(COM1 error: "V7\r\n" is not a channel command)",
                          R"(COM1 error: "\x01\n" is not a channel command)",
                          R"(COM1 error: "V1" was left unfinished when the port closed)", "COM1 closed"}));
    QCOMPARE(withPrefix(lines, "summary "),
             QStringList({"summary COM1: 2 commands, 3 errors, 0 settings mismatches",
                          "summary COM2: 1 command, 0 errors, 0 settings mismatches",
                          "summary total: 3 commands, 3 errors, 0 settings mismatches"}));
    QVERIFY(!QFileInfo::exists(com1) && !QFileInfo(com1).isSymLink());
    QVERIFY(!QFileInfo(com2).isSymLink());
}

void TestDevsimEndToEnd::panelPortPassesTheCheckAndQuitAfterEnds()
{
    const QString com1 = path("panel/COM1");
    Devsim sim({"--port", "COM1=" + com1, "--quit-after", "2"});
    QVERIFY(sim.waitReady(1));

    TempConfig home;
    home.mapPort(1, com1);
    queltor::SettingsStore store;
    queltor::SerialPort port(store);
    port.setCommPort(1);
    port.setPortOpen(true);
    QVERIFY(sim.waitFor("^COM1 opened at 9600 baud, 1 stop bit: ok$"));
    port.output(queltor::channelCommand(7));
    port.output(queltor::channelCommand(0));
    QCOMPARE(sim.waitForExit(), 0);
    QCOMPARE(sim.lines().mid(2),
             QStringList({"COM1 channel 07", "COM1 channel 00",
                          "summary COM1: 2 commands, 0 errors, 0 settings mismatches",
                          "summary total: 2 commands, 0 errors, 0 settings mismatches"}));
    QVERIFY(!QFileInfo(com1).isSymLink());
}

void TestDevsimEndToEnd::wrongLineSettingsAreReported_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stops");
    QTest::addColumn<QString>("described");

    QTest::newRow("19200") << 19200 << int(QSerialPort::Data8) << int(QSerialPort::NoParity)
                           << int(QSerialPort::OneStop) << "19200 baud, 1 stop bit";
    QTest::newRow("odd") << 9600 << int(QSerialPort::Data8) << int(QSerialPort::OddParity) << int(QSerialPort::OneStop)
                         << "9600 baud, odd parity, 1 stop bit";
    QTest::newRow("space") << 9600 << int(QSerialPort::Data8) << int(QSerialPort::SpaceParity)
                           << int(QSerialPort::OneStop) << "9600 baud, space parity, 1 stop bit";
    QTest::newRow("two stop bits") << 9600 << int(QSerialPort::Data8) << int(QSerialPort::NoParity)
                                   << int(QSerialPort::TwoStop) << "9600 baud, 2 stop bits";
}

void TestDevsimEndToEnd::wrongLineSettingsAreReported()
{
    QFETCH(int, baud);
    QFETCH(int, bits);
    QFETCH(int, parity);
    QFETCH(int, stops);
    QFETCH(QString, described);

    const QString com1 = path("wrong/COM1");
    Devsim sim({"--port", "COM1=" + com1});
    QVERIFY(sim.waitReady(1));
    QSerialPort port;
    QVERIFY(openAt(port, com1, baud, QSerialPort::DataBits(bits), QSerialPort::Parity(parity),
                   QSerialPort::StopBits(stops)));
    QVERIFY(sim.waitFor(QStringLiteral("^COM1 opened at %1: mismatch, the device expects 9600 8N1$").arg(described)));
    // Bytes still arrive: the mismatch is the finding, not a reason to drop them.
    QVERIFY(send(port, "V05\r\n"));
    QVERIFY(sim.waitFor("^COM1 channel 05$"));
    QCOMPARE(sim.stop(), 1);
    QVERIFY(sim.lines().contains("summary COM1: 1 command, 0 errors, 1 settings mismatch"));
}

void TestDevsimEndToEnd::settingsChangedWhileOpenAreReported()
{
    const QString com1 = path("change/COM1");
    Devsim sim({"--port", "COM1=" + com1});
    QVERIFY(sim.waitReady(1));
    QSerialPort port;
    QVERIFY(openAt(port, com1));
    QVERIFY(sim.waitFor("^COM1 opened at 9600 baud, 1 stop bit: ok$"));
    QVERIFY(port.setBaudRate(4800));
    QVERIFY(send(port, "V01\r\n"));
    QVERIFY(sim.waitFor("^COM1 channel 01$"));
    QVERIFY(sim.waitFor("^COM1 line settings now 4800 baud, 1 stop bit: mismatch, the device expects 9600 8N1$"));
    QVERIFY(port.setBaudRate(9600));
    QVERIFY(send(port, "V02\r\n"));
    QVERIFY(sim.waitFor("^COM1 channel 02$"));
    QVERIFY(sim.waitFor("^COM1 line settings now 9600 baud, 1 stop bit: ok$"));
    port.close();
    // The settings the closer restores on its way out are nobody's to blame.
    QVERIFY(sim.waitFor("^COM1 closed$"));
    QCOMPARE(sim.stop(), 1);
    const QStringList lines = sim.lines();
    QCOMPARE(lines.filter("settings").size(), 4);
    QVERIFY(lines.contains("summary COM1: 2 commands, 0 errors, 1 settings mismatch"));
}

// Two descriptors of one program, opened one after the other and closed
// together, as the panel's port holds them: the two closes reach the simulator
// as one event.
void TestDevsimEndToEnd::closesTogetherEndTheSession()
{
    const QString com1 = path("together/COM1");
    Devsim sim({"--port", "COM1=" + com1});
    QVERIFY(sim.waitReady(1));
    const int first = ::open(QFile::encodeName(com1).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    QVERIFY(first >= 0);
    QVERIFY(sim.waitFor("^COM1 opened at "));
    const int second = ::open(QByteArray("/proc/self/fd/" + QByteArray::number(first)).constData(),
                              O_WRONLY | O_NOCTTY | O_CLOEXEC);
    QVERIFY(second >= 0);
    // It reads the opens before a line typed after them.
    QVERIFY(sim.type("replug COM1"));
    QVERIFY(sim.waitFor("^COM1 already plugged in at "));

    sim.pause(true);
    ::close(second);
    ::close(first);
    sim.pause(false);
    QVERIFY2(sim.waitFor("^COM1 closed$"), qPrintable(sim.lines().join('\n')));
}

void TestDevsimEndToEnd::quickOpenWriteCloseIsJudgedFairly_data()
{
    QTest::addColumn<bool>("setUp");
    QTest::addColumn<int>("runs");
    QTest::addColumn<QStringList>("mismatches");
    QTest::addColumn<QString>("summary");

    // The settings are put back before the simulator can look: not the sender's.
    QTest::newRow("set up and put back") << true << 50 << QStringList()
                                         << "summary COM1: 50 commands, 0 errors, 0 settings mismatches";
    // Nobody touched them, so they are the ones the bytes went out with.
    QTest::newRow("left as found")
        << false << 1 << QStringList({"COM1 opened at 38400 baud, 1 stop bit: mismatch, the device expects 9600 8N1"})
        << "summary COM1: 1 command, 0 errors, 1 settings mismatch";
}

void TestDevsimEndToEnd::quickOpenWriteCloseIsJudgedFairly()
{
    QFETCH(bool, setUp);
    QFETCH(int, runs);
    QFETCH(QStringList, mismatches);
    QFETCH(QString, summary);

    const QString com1 = path(QStringLiteral("quick%1/COM1").arg(runs));
    Devsim sim({"--port", "COM1=" + com1});
    QVERIFY(sim.waitReady(1));
    {
        // A program before them that set the line up and put it back.
        QSerialPort earlier;
        QVERIFY(openAt(earlier, com1));
        QVERIFY(sim.waitFor("^COM1 opened at 9600 baud, 1 stop bit: ok$"));
    }
    QVERIFY(sim.waitFor("^COM1 closed$"));
    for (int i = 0; i < runs; ++i)
        QVERIFY(openWriteClose(com1, i, setUp));
    QVERIFY(sim.waitFor(QStringLiteral("^COM1 channel %1$").arg(runs - 1, 2, 10, QChar('0'))));
    QVERIFY(sim.waitFor("^COM1 closed$"));
    const int status = sim.stop();
    const QStringList lines = sim.lines();
    QCOMPARE(lines.filter(": mismatch"), mismatches);
    QVERIFY2(lines.contains(summary), qPrintable(lines.join('\n')));
    QCOMPARE(status, mismatches.isEmpty() ? 0 : 1);
}

void TestDevsimEndToEnd::unplugAndReplugOnStandardInput_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::newRow("pipe") << false;
    QTest::newRow("FIFO, a writer per line") << true;
}

void TestDevsimEndToEnd::unplugAndReplugOnStandardInput()
{
    QFETCH(bool, fifo);
    const QString com1 = path(QStringLiteral("plug%1/COM1").arg(fifo));
    const QString input = path(QStringLiteral("plug%1.fifo").arg(fifo));
    QVERIFY(!fifo || ::mkfifo(QFile::encodeName(input).constData(), 0600) == 0);
    Devsim sim({"--port", "COM1=" + com1, "--port", "COM2=" + path(QStringLiteral("plug%1/COM2").arg(fifo))},
               fifo ? input : QString());
    QVERIFY(sim.waitReady(2));

    QSerialPort held;
    QVERIFY(openAt(held, com1));
    QVERIFY(sim.waitFor("^COM1 opened at 9600 baud, 1 stop bit: ok$"));
    QVERIFY(send(held, "V01\r\n"));
    QVERIFY(sim.waitFor("^COM1 channel 01$"));

    QVERIFY(sim.type("unplug COM1"));
    QVERIFY(sim.waitFor("^COM1 unplugged$"));
    QVERIFY(!QFileInfo(com1).isSymLink() && !QFileInfo::exists(com1));
    QVERIFY(!send(held, "V02\r\n"));
    held.close();
    for (const char *line : {"unplug COM1", "unplug COM3", "pull COM1"})
        QVERIFY(sim.type(line));
    QVERIFY(sim.waitFor("^COM1 already unplugged$"));

    QVERIFY(sim.type("replug COM1"));
    QVERIFY(sim.waitFor(R"(^COM1 replugged at .*/COM1 \(/dev/pts/\d+\)$)"));
    QVERIFY(QFileInfo(com1).isSymLink() && QFileInfo::exists(com1));
    const QString replugged = QFileInfo(com1).symLinkTarget();
    QVERIFY(sim.type("replug COM1"));
    QVERIFY(sim.waitFor("^COM1 already plugged in at "));
    sim.endInput();

    // No input left, the simulator goes on.
    QSerialPort fresh;
    QVERIFY2(openAt(fresh, com1), qPrintable(fresh.errorString()));
    QVERIFY(sim.waitFor("^COM1 opened at 9600 baud, 1 stop bit: ok$"));
    QVERIFY(send(fresh, "V03\r\n"));
    QVERIFY(sim.waitFor("^COM1 channel 03$"));
    fresh.close();
    QVERIFY(sim.waitFor("^COM1 closed$"));

    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QFileInfo(com1).isSymLink());
    const QStringList lines = sim.lines();
    QCOMPARE(withPrefix(lines, "COM1 ").mid(1),
             QStringList({"COM1 opened at 9600 baud, 1 stop bit: ok", "COM1 channel 01", "COM1 unplugged",
                          "COM1 already unplugged", "COM1 replugged at " + com1 + " (" + replugged + ")",
                          "COM1 already plugged in at " + com1 + " (" + replugged + ")",
                          "COM1 opened at 9600 baud, 1 stop bit: ok", "COM1 channel 03", "COM1 closed"}));
    QVERIFY(lines.contains("summary COM1: 2 commands, 0 errors, 0 settings mismatches"));
    const QString errors = sim.errorOutput();
    QVERIFY2(errors.contains(R"(queltor-devsim: ignored "unplug COM3": COM3 is not simulated here)")
                 && errors.contains(R"(queltor-devsim: ignored "pull COM1": unknown command)"),
             qPrintable(errors));
}

void TestDevsimEndToEnd::partialLineAtStopCounts()
{
    const QString com1 = path("stop/COM1");
    Devsim sim({"--port", "COM1=" + com1});
    QVERIFY(sim.waitReady(1));
    QSerialPort port;
    QVERIFY(openAt(port, com1));
    QVERIFY(send(port, "V03\r\nV0"));
    QVERIFY(sim.waitFor("^COM1 channel 03$"));
    QCOMPARE(sim.stop(SIGINT), 1);
    QVERIFY(sim.lines().contains(R"(COM1 error: "V0" was left unfinished when the simulator stopped)"));
    QVERIFY(sim.lines().contains("summary COM1: 1 command, 1 error, 0 settings mismatches"));
}

void TestDevsimEndToEnd::linksVanishOnSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestDevsimEndToEnd::linksVanishOnSignals()
{
    QFETCH(int, signal);
    const QString com1 = path(QStringLiteral("sig%1/COM1").arg(signal));
    const QString com2 = path(QStringLiteral("sig%1/COM2").arg(signal));
    Devsim sim({"--port", "COM1=" + com1, "--port", "COM2=" + com2});
    QVERIFY(sim.waitReady(2));
    QVERIFY(QFileInfo(com1).isSymLink() && QFileInfo(com2).isSymLink());
    QCOMPARE(sim.stop(signal), 0); // nothing received, nothing wrong
    QVERIFY(!QFileInfo(com1).isSymLink());
    QVERIFY(!QFileInfo(com2).isSymLink());
    QVERIFY(sim.lines().contains("summary total: 0 commands, 0 errors, 0 settings mismatches"));
}

void TestDevsimEndToEnd::staleLinkIsReplacedAndFoldersMade()
{
    const QString com1 = path("stale/deeper/COM1");
    QVERIFY(QDir().mkpath(path("stale/deeper")));
    QVERIFY(QFile::link("/dev/pts/nonexistent", com1));
    Devsim sim({"--port", "COM1=" + com1, "--port", "COM2=" + path("fresh/a/b/COM2")});
    QVERIFY2(sim.waitReady(2), qPrintable(sim.errorOutput()));
    QVERIFY(QFileInfo(com1).symLinkTarget().startsWith("/dev/pts/"));
    QVERIFY(QFileInfo(com1).exists());
    QVERIFY(QFileInfo(path("fresh/a/b/COM2")).exists());
    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QFileInfo(com1).isSymLink());
}

void TestDevsimEndToEnd::fileInTheWayIsLeftAlone()
{
    const QString taken = path("taken/COM2");
    QVERIFY(QDir().mkpath(path("taken")));
    {
        QFile file(taken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QString com1 = path("taken/COM1");
    Devsim sim({"--port", "COM1=" + com1, "--port", "COM2=" + taken});
    QCOMPARE(sim.waitForExit(), 2);
    QVERIFY(sim.errorOutput().contains("is not a symbolic link"));
    QFile file(taken);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
    // The link already made for COM1 does not outlive the failed start.
    QVERIFY(!QFileInfo(com1).isSymLink());
}

void TestDevsimEndToEnd::helpAndBadArguments()
{
    {
        Devsim sim({"--help"});
        QCOMPARE(sim.waitForExit(), 0);
        const QStringList lines = sim.lines();
        QVERIFY(!lines.isEmpty() && lines.first().startsWith("Usage: queltor-devsim --port COMn=PATH"));
        QVERIFY(lines.join('\n').contains("--quit-after N"));
    }
    {
        Devsim sim({"--version"});
        QCOMPARE(sim.waitForExit(), 0);
        QVERIFY(QRegularExpression(R"(^queltor-devsim \d+\.\d+\.\d+$)").match(sim.lines().join('\n')).hasMatch());
    }
    {
        Devsim sim({"--port", "COM1=" + path("bad/COM1"), "--quit-after", "x"});
        QCOMPARE(sim.waitForExit(), 2);
        QVERIFY(sim.errorOutput().contains("--quit-after needs a count"));
        QVERIFY(!QFileInfo(path("bad/COM1")).isSymLink());
    }
}

QTEST_GUILESS_MAIN(TestDevsimEndToEnd)
#include "test_devsim_end_to_end.moc"
