#include "link/device_access.h"
#include "link/failure.h"
#include "link/serial_port.h"
#include "link/settings_store.h"

#include "failure_of.h"
#include "lock_files.h"
#include "pseudo_tty.h"
#include "temp_config.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace queltor;

namespace {

const QByteArray kCommand("V07\r\n");

// COM<number> mapped to a fresh pty (no port mapped for kUnmapped), then the
// store and the adapter set to that port: the map is on disk before the store
// reads it, as a user's file would be.
struct MappedPty
{
    TempConfig config;
    Pty pty;
    explicit MappedPty(int number)
    {
        if (number)
            config.mapPort(number, pty.slavePath());
    }
};

struct PortOnPty : MappedPty
{
    static constexpr int kUnmapped = 0;
    explicit PortOnPty(int number = 1)
        : MappedPty(number)
    {
        if (number)
            port.setCommPort(number);
    }
    const SettingsStore store;
    SerialPort port{store};
};

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void bytesArriveExactly_data();
    void bytesArriveExactly();
    void lineSettingsApplied();
    void openFailures_data();
    void openFailures();
    void portInUse_data();
    void portInUse();
    void noPermission();
    void writeWhileClosed();
    void writeAfterDeviceVanished();
    void fullDeviceTakesNothingMore();
    void commPortRange_data();
    void commPortRange();
    void commPortFixedWhileOpen();
    void closeAndReopen();
    void deviceMapping_data();
    void deviceMapping();
    void pathsAreUsedAsWritten_data();
    void pathsAreUsedAsWritten();
    void deviceNamedInBytesIsReached();
};

void TestSerialPort::init()
{
    // QSerialPort complains when the lock file it took is gone as it closes.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("lock file")));
}

void TestSerialPort::bytesArriveExactly_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");

    QTest::newRow("one command") << QList<QByteArray>{kCommand};
    QTest::newRow("commands in a row") << QList<QByteArray>{"V00\r\n", "V42\r\n", "V99\r\n", "V07\r\n"};
    // A cooked line would turn LF into CR LF or swallow control bytes.
    QTest::newRow("bare line feeds") << QList<QByteArray>{"\n", "V1\n\n", "\r"};
    QByteArray every(256, '\0');
    for (int i = 0; i < every.size(); ++i)
        every[i] = static_cast<char>(i);
    QTest::newRow("every byte value") << QList<QByteArray>{every};
    QTest::newRow("nothing") << QList<QByteArray>{QByteArray()};
}

void TestSerialPort::bytesArriveExactly()
{
    QFETCH(QList<QByteArray>, writes);
    PortOnPty link;
    QVERIFY(link.pty.isValid());

    link.port.setPortOpen(true);
    QVERIFY(link.port.portOpen());
    QByteArray expected;
    for (const QByteArray &bytes : std::as_const(writes)) {
        link.port.output(bytes);
        expected += bytes;
    }
    QCOMPARE(link.pty.readAll(), expected);
}

void TestSerialPort::lineSettingsApplied()
{
    PortOnPty link(2);
    QVERIFY(link.pty.isValid());

    // Leave the line in a state unlike ours, so nothing passes by default.
    {
        const int fd = ::open(QFile::encodeName(link.pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(::tcgetattr(fd, &t), 0);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
        QCOMPARE(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }

    link.port.setPortOpen(true);

    const termios t = link.pty.slaveSettings();
    QCOMPARE(::cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(::cfgetispeed(&t), speed_t(B9600));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(t.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
}

void TestSerialPort::openFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    const QString missing = QStringLiteral("the device does not exist. Plug the device in, or choose it with "
                                           "Set > Serial Port > Choose Device");
    QTest::newRow("missing device") << QStringLiteral("missing") << missing;
    QTest::newRow("missing directory") << QStringLiteral("missing-dir") << missing;
    QTest::newRow("path through a plain file") << QStringLiteral("under-file") << missing;
    QTest::newRow("plain file") << QStringLiteral("file") << QStringLiteral("it is not a serial port");
    // The lock file is named after the path: "LCK..", then 251 characters.
    QTest::newRow("path too long for a lock file")
        << QStringLiteral("long")
        << QStringLiteral("its path is too long to name a lock file after it (a lock file name may have 255 "
                          "characters; this one would have 256). Give the device a shorter path");
}

void TestSerialPort::openFailures()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    PortOnPty link;
    QVERIFY(link.pty.isValid());
    QString device = link.config.path() + QStringLiteral("/ttyNONE");
    if (kind == QLatin1String("long")) {
        QString folder = link.config.path();
        while (folder.size() < 251 - 10)
            folder += QStringLiteral("/deep");
        QVERIFY(QDir().mkpath(folder));
        device = folder + QLatin1Char('/') + QString(250 - folder.size(), QLatin1Char('x'));
        QCOMPARE(device.size(), 251);
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("missing-dir")) {
        device = link.config.path() + QStringLiteral("/gone/ttyUSB0");
    } else if (kind == QLatin1String("file") || kind == QLatin1String("under-file")) {
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind == QLatin1String("under-file"))
            device += QStringLiteral("/0");
    }
    link.config.mapPort(1, device);

    QCOMPARE(failureOf([&] { link.port.setPortOpen(true); }),
             QStringLiteral("COM1 (%1) could not be opened: %2.").arg(device, reason));
    QVERIFY(!link.port.portOpen());

    // Once the device is there, the same port opens and writes.
    link.config.mapPort(1, link.pty.slavePath());
    link.port.setPortOpen(true);
    link.port.output(kCommand);
    QCOMPARE(link.pty.readAll(), kCommand);
}

namespace {

// The lock file texts other programs write for process pid.
QByteArray lockText(const QString &format, qint64 pid)
{
    const QByteArray number = QByteArray::number(pid);
    if (format == QLatin1String("HDB"))
        return number.rightJustified(10, ' ') + '\n';
    if (format == QLatin1String("HDB, program and user"))
        return number.rightJustified(10, ' ') + " minicom root\n";
    if (format == QLatin1String("bare PID"))
        return number;
    return number + "\nsleep\nhost\n"; // QLockFile's
}

// The lock files in the lock folder that name process pid.
QStringList locksOf(qint64 pid)
{
    const QDir folder(QFile::decodeName(device_access::lockFolder()));
    QStringList names;
    for (const QString &name : folder.entryList({QStringLiteral("LCK..*")}, QDir::Files | QDir::System))
        if (lockHolderIn(folder.filePath(name)) == pid)
            names << folder.filePath(name);
    return names;
}

} // namespace

void TestSerialPort::portInUse_data()
{
    QTest::addColumn<QString>("holder"); // a lock file's format, or what else holds the device
    QTest::addColumn<bool>("alive");
    QTest::addColumn<bool>("lockByLink"); // named after the link the port is mapped to, not after the device node

    for (const char *format : {"HDB", "HDB, program and user", "bare PID", "QLockFile"}) {
        for (const bool alive : {true, false}) {
            for (const bool byLink : {false, true}) {
                QTest::newRow(
                    qPrintable(QStringLiteral("%1, %2, named after the %3")
                                   .arg(QLatin1String(format),
                                        alive ? QStringLiteral("holder runs") : QStringLiteral("holder ended"),
                                        byLink ? QStringLiteral("link") : QStringLiteral("node"))))
                    << QString::fromLatin1(format) << alive << byLink;
            }
        }
    }
    QTest::newRow("flock() held by another program") << QStringLiteral("flock") << true << false;
    QTest::newRow("held by another SerialPort") << QStringLiteral("SerialPort") << true << false;
    QTest::newRow("held by a bare QSerialPort") << QStringLiteral("QSerialPort") << true << false;
}

// The port is mapped through a link, as /dev/serial/by-id names a device. A
// running holder is named in the message and its lock left as it is; a lock
// whose process has ended is replaced by ours, in HDB form, named after the node.
void TestSerialPort::portInUse()
{
    QFETCH(QString, holder);
    QFETCH(bool, alive);
    QFETCH(bool, lockByLink);
    PortOnPty link(PortOnPty::kUnmapped);
    QVERIFY(link.pty.isValid());
    const QString path = link.config.path() + QStringLiteral("/usb-Rig_A1-if00");
    QVERIFY(QFile::link(link.pty.slavePath(), path));
    link.config.mapPort(2, path);
    link.port.setCommPort(2);
    const QString nodeLock = lockFileOf(link.pty.slavePath());
    QVERIFY(!nodeLock.isEmpty());
    const QString lock = lockByLink
        ? QFile::decodeName(device_access::lockFolder() + '/' + device_access::lockFileName(QFile::encodeName(path)))
        : nodeLock;
    const qint64 self = QCoreApplication::applicationPid();

    SerialPort other(link.store);
    QSerialPort bare;
    QProcess program;
    qint64 pid = self;
    QString name = QFileInfo(QCoreApplication::arguments().constFirst()).fileName();
    QByteArray written;
    const auto cleanUp = qScopeGuard([&] {
        program.kill();
        program.waitForFinished();
        if (!written.isEmpty())
            QFile::remove(lock);
    });
    if (holder == QLatin1String("SerialPort")) {
        other.setCommPort(2);
        other.setPortOpen(true);
    } else if (holder == QLatin1String("QSerialPort")) {
        bare.setPortName(link.pty.slavePath());
        QVERIFY(bare.open(QIODevice::ReadWrite));
    } else if (holder == QLatin1String("flock")) {
        // As tio holds a device: flock() and no lock file.
        program.start(QStringLiteral("flock"),
                      {QStringLiteral("--no-fork"), QStringLiteral("--exclusive"), QStringLiteral("--nonblock"),
                       link.pty.slavePath(), QStringLiteral("sh"), QStringLiteral("-c"),
                       QStringLiteral("echo ready; exec sleep 60")});
        QVERIFY(program.waitForReadyRead(20000));
        pid = program.processId();
        name = QStringLiteral("sleep");
    } else {
        program.start(QStringLiteral("sleep"), {alive ? QStringLiteral("60") : QStringLiteral("0")});
        QVERIFY(program.waitForStarted());
        pid = program.processId();
        name = QStringLiteral("sleep");
        if (!alive)
            QVERIFY(program.waitForFinished());
        written = lockText(holder, pid);
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::NewOnly));
        file.write(written);
    }

    if (alive) {
        QCOMPARE(failureOf([&] { link.port.setPortOpen(true); }),
                 QStringLiteral("COM2 (%1) could not be opened: the port is in use by %2 (PID %3). Quit that program, "
                                "then choose the port again in Set > Serial Port.")
                     .arg(path, name)
                     .arg(pid));
        QVERIFY(!link.port.portOpen());
        QCOMPARE(link.pty.readAll(), QByteArray());
        // Who holds it, as the device list asks.
        const std::optional<DeviceHolder> shown = device_access::deviceHolder(QFile::encodeName(path));
        QVERIFY(shown);
        QCOMPARE(shown->pid, pid);
        if (!written.isEmpty()) {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), written);
        }
        // Nothing of ours is left behind by the refusal.
        if (pid != self)
            QVERIFY(locksOf(self).isEmpty());
        // Free again once the other lets go.
        other.setPortOpen(false);
        bare.close();
        program.kill();
        program.waitForFinished();
    }

    link.port.setPortOpen(true);
    // The device's one lock is ours, HDB style, named after the node.
    QCOMPARE(locksOf(self), QStringList{nodeLock});
    QFile ours(nodeLock);
    QVERIFY(ours.open(QIODevice::ReadOnly));
    const QByteArray text = ours.readAll();
    QVERIFY2(text.startsWith(QByteArray::number(self).rightJustified(10, ' ') + ' ') && text.endsWith('\n')
                 && text.count('\n') == 1,
             text.constData());
    QVERIFY(!QFile::exists(lock) || lock == nodeLock);
    link.port.output(kCommand);
    QCOMPARE(link.pty.readAll(), kCommand);
    link.port.setPortOpen(false);
    QVERIFY(locksOf(self).isEmpty());
}

void TestSerialPort::noPermission()
{
    if (::geteuid() == 0)
        QSKIP("root may open any device");
    PortOnPty link;
    QVERIFY(link.pty.isValid());
    QVERIFY(QFile::setPermissions(link.pty.slavePath(), QFileDevice::Permissions()));

    const QString message = failureOf([&] { link.port.setPortOpen(true); });
    QVERIFY2(message.startsWith(
                 QStringLiteral("COM1 (%1) could not be opened: you have no permission").arg(link.pty.slavePath())),
             qPrintable(message));
    // No group may write to it, so joining one would not help.
    QVERIFY2(message.contains(QLatin1String("ask your administrator")), qPrintable(message));
}

void TestSerialPort::writeWhileClosed()
{
    PortOnPty link(PortOnPty::kUnmapped);
    QVERIFY(link.pty.isValid());

    const QString neverOpened = failureOf([&] { link.port.output(kCommand); });
    QCOMPARE(neverOpened, QStringLiteral("COM1 (/dev/ttyS0) could not be written to: the port is not open."));

    link.config.mapPort(1, link.pty.slavePath());
    link.port.setPortOpen(true);
    link.port.setPortOpen(false);
    QCOMPARE(failureOf([&] { link.port.output(kCommand); }),
             QStringLiteral("COM1 (%1) could not be written to: the port is not open.").arg(link.pty.slavePath()));
    QCOMPARE(link.pty.readAll(), QByteArray());
}

void TestSerialPort::writeAfterDeviceVanished()
{
    PortOnPty link;
    QVERIFY(link.pty.isValid());
    const QString vanished = link.pty.slavePath();
    link.port.setPortOpen(true);
    link.port.output(kCommand);
    QCOMPARE(link.pty.readAll(), kCommand);

    link.pty.closeMaster();
    const QString expected =
        QStringLiteral("COM1 (%1) could not be written to: the device has gone away.").arg(vanished);
    QCOMPARE(failureOf([&] { link.port.output(kCommand); }), expected);
    // The error does not linger into the next call, which fails afresh for the same reason.
    QCOMPARE(failureOf([&] { link.port.output(kCommand); }), expected);

    // Closing the dead port and opening a live one brings the link back.
    link.port.setPortOpen(false);
    QVERIFY(!link.port.portOpen());
    Pty replugged;
    QVERIFY(replugged.isValid());
    link.config.mapPort(1, replugged.slavePath());
    link.port.setPortOpen(true);
    link.port.output("V11\r\n");
    QCOMPARE(replugged.readAll(), QByteArray("V11\r\n"));
}

void TestSerialPort::fullDeviceTakesNothingMore()
{
    PortOnPty link;
    QVERIFY(link.pty.isValid());
    link.port.setPortOpen(true);

    // Nobody reads the master: the line fills up and must be refused, not queued.
    QByteArray accepted;
    QString message;
    for (int i = 0; i < 1000000 && message.isNull(); ++i) {
        const QByteArray command = commands({i % 100});
        message = failureOf([&] { link.port.output(command); });
        if (message.isNull())
            accepted += command;
    }
    QCOMPARE(message,
             QStringLiteral("COM1 (%1) could not be written to: the device is not accepting data.")
                 .arg(link.pty.slavePath()));
    // Clearing what got stuck may have made room again; either way the answer is whole.
    const QByteArray later("V__\r\n");
    const QString again = failureOf([&] { link.port.output(later); });
    if (again.isNull())
        accepted += later;
    else
        QCOMPARE(again, message);

    // What comes out is what was accepted, in order; no refused byte follows,
    // not even once the line drains and the port gets to write again.
    const QByteArray drained = link.pty.readAll();
    QVERIFY(!drained.isEmpty());
    QVERIFY(drained.size() <= accepted.size());
    QVERIFY(accepted.startsWith(drained));
    QCOMPARE(drained.contains(later), again.isNull());

    // With room again the next command goes alone: nothing of the refused one trails it.
    link.port.output("V55\r\n");
    QCOMPARE(link.pty.readAll(), QByteArray("V55\r\n"));
}

void TestSerialPort::commPortRange_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("255") << 255 << true;
    QTest::newRow("256") << 256 << false;
    QTest::newRow("-1") << -1 << false;
}

void TestSerialPort::commPortRange()
{
    QFETCH(int, number);
    QFETCH(bool, accepted);
    PortOnPty link(2);

    const QString message = failureOf([&] { link.port.setCommPort(number); });
    if (accepted) {
        QVERIFY2(message.isNull(), qPrintable(message));
        QCOMPARE(link.port.commPort(), number);
        QCOMPARE(link.port.portLabel(),
                 QStringLiteral("COM%1 (%2)").arg(number).arg(QString::fromUtf8(*link.store.portDevice(number))));
    } else {
        QCOMPARE(message, QStringLiteral("Port number %1 is not available; the ports are 1 to 255.").arg(number));
        QCOMPARE(link.port.commPort(), 2);
    }
}

void TestSerialPort::commPortFixedWhileOpen()
{
    PortOnPty link;
    QVERIFY(link.pty.isValid());
    link.port.setPortOpen(true);

    const QString message = failureOf([&] { link.port.setCommPort(2); });
    QVERIFY(!message.isNull());
    QVERIFY2(message.contains(QStringLiteral("COM1 (%1)").arg(link.pty.slavePath())), qPrintable(message));
    QCOMPARE(link.port.commPort(), 1);
    QVERIFY(link.port.portOpen());
    link.port.output(kCommand);
    QCOMPARE(link.pty.readAll(), kCommand);
}

void TestSerialPort::closeAndReopen()
{
    PortOnPty link;
    Pty &first = link.pty;
    Pty second;
    QVERIFY(first.isValid() && second.isValid());

    link.port.setPortOpen(false); // never opened: harmless
    link.port.setPortOpen(true);
    link.port.setPortOpen(true); // already open: stays open, same device
    QVERIFY(link.port.portOpen());

    // The label names the device that was opened, even if the map moves on meanwhile.
    link.config.mapPort(1, second.slavePath());
    QCOMPARE(link.port.deviceName(), first.slavePath());
    QCOMPARE(link.port.portLabel(), QStringLiteral("COM1 (%1)").arg(first.slavePath()));
    link.port.output("V01\r\n");
    QCOMPARE(first.readAll(), QByteArray("V01\r\n"));

    link.port.setPortOpen(false);
    link.port.setPortOpen(false);
    QVERIFY(!link.port.portOpen());

    // Reopening resolves the device afresh.
    link.port.setPortOpen(true);
    QCOMPARE(link.port.deviceName(), second.slavePath());
    link.port.output("V02\r\n");
    QCOMPARE(second.readAll(), QByteArray("V02\r\n"));
    QCOMPARE(first.readAll(), QByteArray());
}

void TestSerialPort::deviceMapping_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("mappedPort"); // "COMn=path" entries, or empty
    QTest::addColumn<QString>("expected");

    QTest::newRow("COM1 default") << 1 << QString() << QStringLiteral("/dev/ttyS0");
    QTest::newRow("COM2 default") << 2 << QString() << QStringLiteral("/dev/ttyS1");
    QTest::newRow("COM255 default") << 255 << QString() << QStringLiteral("/dev/ttyS254");
    QTest::newRow("COM2 mapped") << 2 << QStringLiteral("2=/dev/ttyUSB0") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("other port mapped") << 2 << QStringLiteral("1=/dev/ttyUSB0") << QStringLiteral("/dev/ttyS1");
    QTest::newRow("empty mapping") << 1 << QStringLiteral("1=") << QStringLiteral("/dev/ttyS0");
}

void TestSerialPort::deviceMapping()
{
    QFETCH(int, number);
    QFETCH(QString, mappedPort);
    QFETCH(QString, expected);
    PortOnPty link(PortOnPty::kUnmapped);
    if (!mappedPort.isEmpty()) {
        const int eq = mappedPort.indexOf(QLatin1Char('='));
        link.config.mapPort(mappedPort.left(eq).toInt(), mappedPort.mid(eq + 1));
    }
    link.port.setCommPort(number);

    QCOMPARE(link.store.portDevice(number), std::optional(expected.toUtf8()));
    QCOMPARE(link.port.deviceName(), expected);
    QCOMPARE(link.port.portLabel(), QStringLiteral("COM%1 (%2)").arg(number).arg(expected));
}

void TestSerialPort::pathsAreUsedAsWritten_data()
{
    QTest::addColumn<QByteArray>("name");    // of the link to the pty, in a fresh folder
    QTest::addColumn<QByteArray>("written"); // the value after COM1=, {} the folder
    QTest::addColumn<QString>("shown");      // in messages, {} the folder

    QTest::newRow("comma") << QByteArray("usb-Rig_Co.,_Ltd_A1-if00") << QByteArray("{}/usb-Rig_Co.,_Ltd_A1-if00")
                           << QStringLiteral("{}/usb-Rig_Co.,_Ltd_A1-if00");
    QTest::newRow("semicolon, hash, inner blanks")
        << QByteArray("a;b #c  d") << QByteArray(" {}/a;b #c  d\t") << QStringLiteral("{}/a;b #c  d");
    QTest::newRow("quoted, escapes read")
        << QByteArray("q\"x\\y z ") << QByteArray("\"{}/q\\\"x\\\\y z \"") << QStringLiteral("{}/q\"x\\y z ");
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9-\xff") << QByteArray("{}/caf\xe9-\xff")
                               << QStringLiteral("{}/caf\\xE9-\\xFF");
}

void TestSerialPort::pathsAreUsedAsWritten()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, written);
    QFETCH(QString, shown);
    TempConfig config;
    Pty pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray path = folder + '/' + name;
    QCOMPARE(::symlink(QFile::encodeName(pty.slavePath()).constData(), path.constData()), 0);
    QFile file(config.fileName());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
    file.write("; odd paths\n[Ports]\nCOM1=" + written.replace("{}", folder) + "\n");
    file.close();
    shown.replace(QStringLiteral("{}"), dir.path());

    const SettingsStore store;
    SerialPort port(store);
    QCOMPARE(store.portDevice(1), std::optional(path));
    port.setPortOpen(true);
    port.output(kCommand);
    QCOMPARE(pty.readAll(), kCommand);
    QCOMPARE(port.portLabel(), QStringLiteral("COM1 (%1)").arg(shown));

    // Gone: the message shows the path as written too.
    port.setPortOpen(false);
    QCOMPARE(::unlink(path.constData()), 0);
    QCOMPARE(failureOf([&] { port.setPortOpen(true); }),
             QStringLiteral("COM1 (%1) could not be opened: the device does not exist. Plug the device in, or choose "
                            "it with Set > Serial Port > Choose Device.")
                 .arg(shown));
}

void TestSerialPort::deviceNamedInBytesIsReached()
{
    // A device node whose own name is not UTF-8: no link leads to a plainer name.
    // A pty answers only under its own /dev/pts, so the node is /dev/null's: that
    // it is reached shows in the reason it is refused.
    TempConfig config;
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + "/tty\xff\xfe";
    struct stat null
    { };
    QCOMPARE(::stat("/dev/null", &null), 0);
    if (::mknod(path.constData(), S_IFCHR | 0600, null.st_rdev) != 0)
        QSKIP("device nodes cannot be made here (not root, or a nodev mount)");
    QFile file(config.fileName());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
    file.write("[Ports]\nCOM1=" + path + "\n");
    file.close();

    const SettingsStore store;
    SerialPort port(store);
    QCOMPARE(failureOf([&] { port.setPortOpen(true); }),
             QStringLiteral("COM1 (%1/tty\\xFF\\xFE) could not be opened: it is not a serial port.").arg(dir.path()));
    QCOMPARE(::unlink(path.constData()), 0);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
