// The simulator's plain parts: what it makes of the bytes on the line, how it
// reads its command line, and how it names line settings.
#include "command_parser.h"
#include "line_settings.h"
#include "operator_command.h"
#include "options.h"

#include <QtTest>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace queltor::devsim;

namespace {

QStringList describeAll(const QByteArray &input, const QList<int> &chunkSizes = {})
{
    CommandParser parser;
    std::vector<Record> records;
    int at = 0;
    for (int i = 0; at < input.size(); ++i) {
        const int size = chunkSizes.isEmpty() ? int(input.size()) : chunkSizes[i % chunkSizes.size()];
        parser.feed(std::string_view(input.constData() + at, std::size_t(std::min(size, int(input.size()) - at))),
                    records);
        at += size;
    }
    if (const auto rest = parser.finish())
        records.push_back(*rest);
    QStringList texts;
    for (const Record &record : records)
        texts << QString::fromStdString(describeRecord(record));
    return texts;
}

const char *const notCommand = "\" is not a channel command";

QString error(const char *escaped, const char *why = notCommand)
{
    return QStringLiteral("error: \"") + QLatin1String(escaped) + QLatin1String(why);
}

} // namespace

class TestDevsimUnits : public QObject
{
    Q_OBJECT
private slots:
    void linesBecomeRecords_data();
    void linesBecomeRecords();
    void chunkingChangesNothingAndEveryByteIsShownOnce_data();
    void chunkingChangesNothingAndEveryByteIsShownOnce();
    void partialLineAtStopNamesTheStop();

    void options_data();
    void options();
    void operatorCommands_data();
    void operatorCommands();

    void lineSettingsOnARealPty_data();
    void lineSettingsOnARealPty();
    void lineSettingsSeenElsewhereAreNamed();
};

void TestDevsimUnits::linesBecomeRecords_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("expected");

    const QString unfinished = QStringLiteral("\" was left unfinished when the port closed");
    QTest::newRow("one command") << QByteArray("V07\r\n") << QStringList{"channel 07"};
    QTest::newRow("lowest and highest") << QByteArray("V00\r\nV99\r\n") << QStringList{"channel 00", "channel 99"};
    QTest::newRow("one digit") << QByteArray("V7\r\n") << QStringList{error("V7\\r\\n")};
    QTest::newRow("three digits") << QByteArray("V123\r\n") << QStringList{error("V123\\r\\n")};
    QTest::newRow("no CR") << QByteArray("V07\n") << QStringList{error("V07\\n")};
    QTest::newRow("CR doubled by output processing") << QByteArray("V07\r\r\n") << QStringList{error("V07\\r\\r\\n")};
    QTest::newRow("lower-case v") << QByteArray("v07\r\n") << QStringList{error("v07\\r\\n")};
    QTest::newRow("letter for digit") << QByteArray("V0A\r\n") << QStringList{error("V0A\\r\\n")};
    QTest::newRow("noise before a command") << QByteArray("\0V07\r\n", 6) << QStringList{error("\\x00V07\\r\\n")};
    QTest::newRow("stray line feed") << QByteArray("\n") << QStringList{error("\\n")};
    QTest::newRow("garbage line between commands")
        << QByteArray("V07\r\nzz\nV08\r\n") << QStringList{"channel 07", error("zz\\n"), "channel 08"};
    QTest::newRow("partial line at close")
        << QByteArray("V07\r\nV0") << QStringList{"channel 07", QStringLiteral("error: \"V0") + unfinished};
    QTest::newRow("CR without LF at close")
        << QByteArray("V07\r") << QStringList{QStringLiteral("error: \"V07\\r") + unfinished};
    QTest::newRow("escapes") << QByteArray("\xff\"\\\t\x7f")
                             << QStringList{QStringLiteral("error: \"\\xff\\\"\\\\\\t\\x7f") + unfinished};
    QTest::newRow("endless noise is cut at 64 bytes")
        << QByteArray(70, 'x')
        << QStringList{QStringLiteral("error: \"%1\" runs on without a line end").arg(QString(64, 'x')),
                       QStringLiteral("error: \"xxxxxx") + unfinished};
    QTest::newRow("63 bytes and a line end stay one line") << QByteArray(63, 'y')
            + '\n' << QStringList{QStringLiteral("error: \"%1\\n").arg(QString(63, 'y')) + notCommand};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
}

void TestDevsimUnits::linesBecomeRecords()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, expected);
    QCOMPARE(describeAll(input), expected);
}

void TestDevsimUnits::chunkingChangesNothingAndEveryByteIsShownOnce_data()
{
    QTest::addColumn<QList<int>>("chunks");
    QTest::newRow("byte by byte") << QList<int>{1};
    QTest::newRow("pairs") << QList<int>{2};
    QTest::newRow("ragged") << QList<int>{3, 1, 7, 2};
    QTest::newRow("five at a time") << QList<int>{5};
}

void TestDevsimUnits::chunkingChangesNothingAndEveryByteIsShownOnce()
{
    QFETCH(QList<int>, chunks);
    QByteArray stream("V01\r\nV1\r\n\x02V02\r\nV03\r\n");
    stream += QByteArray(100, '#') + "\nV04\r\nV0";
    QCOMPARE(describeAll(stream, chunks), describeAll(stream));

    CommandParser parser;
    std::vector<Record> records;
    for (char c : stream)
        parser.feed(std::string_view(&c, 1), records);
    records.push_back(*parser.finish());
    std::string joined;
    int commands = 0;
    for (const Record &record : records) {
        joined += record.bytes;
        commands += record.isError() ? 0 : 1;
    }
    QCOMPARE(QByteArray::fromStdString(joined), stream);
    QCOMPARE(commands, 3); // the command after the \x02 shares its line
    QVERIFY(!parser.finish());
}

void TestDevsimUnits::partialLineAtStopNamesTheStop()
{
    CommandParser parser;
    QVERIFY(parser.feed("V0").empty());
    QVERIFY(parser.hasPartialLine());
    const auto rest = parser.finish(Record::Kind::UnfinishedAtStop);
    QVERIFY(rest);
    QCOMPARE(QString::fromStdString(describeRecord(*rest)),
             QStringLiteral("error: \"V0\" was left unfinished when the simulator stopped"));
    QVERIFY(!parser.hasPartialLine());
}

void TestDevsimUnits::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("ports"); // "COM1=/a COM2=/b"
    QTest::addColumn<int>("quitAfter");
    QTest::addColumn<bool>("help");
    QTest::addColumn<QString>("error"); // a part of the message, empty when none

    QTest::newRow("two ports") << QStringList{"--port", "COM1=/tmp/a", "--port", "COM2=/tmp/b"}
                               << "COM1=/tmp/a COM2=/tmp/b" << 0 << false << "";
    QTest::newRow("joined forms") << QStringList{"--port=com12=/x", "--quit-after=3"} << "COM12=/x" << 3 << false << "";
    QTest::newRow("quit after") << QStringList{"--quit-after", "10", "--port", "COM255=rel/p"} << "COM255=rel/p" << 10
                                << false << "";
    QTest::newRow("help alone") << QStringList{"--help"} << "" << 0 << true << "";
    QTest::newRow("version alone") << QStringList{"--version"} << "" << 0 << false << "";
    QTest::newRow("no port") << QStringList{} << "" << 0 << false << "no port";
    QTest::newRow("port without path") << QStringList{"--port", "COM1"} << "" << 0 << false << "COMn=PATH";
    QTest::newRow("port without value") << QStringList{"--port"} << "" << 0 << false << "Missing value after '--port'";
    QTest::newRow("empty path") << QStringList{"--port", "COM1="} << "" << 0 << false << "path is empty";
    QTest::newRow("port 0") << QStringList{"--port", "COM0=/a"} << "" << 0 << false << "COM1 to COM255";
    QTest::newRow("port 256") << QStringList{"--port", "COM256=/a"} << "" << 0 << false << "COM1 to COM255";
    QTest::newRow("not COM") << QStringList{"--port", "TTY1=/a"} << "" << 0 << false << "COM1 to COM255";
    QTest::newRow("same port twice") << QStringList{"--port", "COM1=/a", "--port", "COM1=/b"} << "" << 0 << false
                                     << "twice";
    QTest::newRow("same path twice") << QStringList{"--port", "COM1=/a", "--port", "COM2=/a"} << "" << 0 << false
                                     << "share the path";
    QTest::newRow("quit after 0") << QStringList{"--port", "COM1=/a", "--quit-after", "0"} << "" << 0 << false
                                  << "1 or more";
    QTest::newRow("quit after -1") << QStringList{"--port", "COM1=/a", "--quit-after", "-1"} << "" << 0 << false
                                   << "1 or more";
    QTest::newRow("quit after text") << QStringList{"--port", "COM1=/a", "--quit-after", "5x"} << "" << 0 << false
                                     << "1 or more";
    QTest::newRow("unknown") << QStringList{"--port", "COM1=/a", "--baud", "9600"} << "" << 0 << false
                             << "Unknown option 'baud'";
    QTest::newRow("stray word") << QStringList{"--port", "COM1=/a", "COM2=/b"} << "" << 0 << false
                                << "unexpected argument \"COM2=/b\"";
}

void TestDevsimUnits::options()
{
    QFETCH(QStringList, args);
    QFETCH(QString, ports);
    QFETCH(int, quitAfter);
    QFETCH(bool, help);
    QFETCH(QString, error);

    std::vector<std::string> argv;
    for (const QString &arg : args)
        argv.push_back(arg.toStdString());
    const ParsedOptions parsed = parseOptions(argv);
    if (!error.isEmpty()) {
        QVERIFY2(QString::fromStdString(parsed.error).contains(error), parsed.error.c_str());
        return;
    }
    QCOMPARE(QString::fromStdString(parsed.error), QString());
    QStringList seen;
    for (const PortLink &port : parsed.options.ports)
        seen << QString::fromStdString(port.name() + "=" + port.path);
    QCOMPARE(seen.join(' '), ports);
    QCOMPARE(parsed.options.quitAfter, long(quitAfter));
    QCOMPARE(parsed.options.help, help);
}

void TestDevsimUnits::operatorCommands_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected"); // "unplug 1", "" for nothing, or a part of the error

    QTest::newRow("unplug") << QByteArray("unplug COM1") << "unplug 1";
    QTest::newRow("replug, blanks and CR") << QByteArray(" \treplug  com12 \r") << "replug 12";
    QTest::newRow("blank line") << QByteArray("  \t") << "";
    QTest::newRow("capitals") << QByteArray("UNPLUG COM1") << "unknown command";
    QTest::newRow("unknown") << QByteArray("pull COM1") << "unknown command";
    QTest::newRow("no port") << QByteArray("unplug") << "unplug needs one port";
    QTest::newRow("two ports") << QByteArray("replug COM1 COM2") << "replug needs one port";
    QTest::newRow("port 0") << QByteArray("unplug COM0") << "\"COM0\" is not a port name";
    QTest::newRow("path for a port") << QByteArray("unplug /tmp/COM1") << "is not a port name";
}

void TestDevsimUnits::operatorCommands()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);

    const ParsedOperatorCommand parsed = parseOperatorCommand(std::string_view(line.constData(), line.size()));
    QString seen = QString::fromStdString(parsed.error);
    if (parsed.command) {
        QVERIFY(parsed.error.empty());
        seen = QStringLiteral("%1 %2")
                   .arg(parsed.command->action == OperatorCommand::Action::Unplug ? "unplug" : "replug")
                   .arg(parsed.command->port);
    }
    QVERIFY2(expected.isEmpty() ? seen.isEmpty() : seen.contains(expected), qPrintable(seen));
}

void TestDevsimUnits::lineSettingsOnARealPty_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("parity"); // extra c_cflag bits
    QTest::addColumn<bool>("twoStops");
    QTest::addColumn<QString>("described");
    QTest::addColumn<bool>("ok");

    QTest::newRow("9600 8N1") << int(B9600) << int(CS8) << 0 << false << "9600 baud, 1 stop bit" << true;
    QTest::newRow("pty default speed") << int(B38400) << int(CS8) << 0 << false << "38400 baud, 1 stop bit" << false;
    QTest::newRow("19200") << int(B19200) << int(CS8) << 0 << false << "19200 baud, 1 stop bit" << false;
    QTest::newRow("odd") << int(B9600) << int(CS8) << int(PARENB | PARODD) << false
                         << "9600 baud, odd parity, 1 stop bit" << false;
    QTest::newRow("mark") << int(B9600) << int(CS8) << int(PARENB | PARODD | CMSPAR) << false
                          << "9600 baud, mark parity, 1 stop bit" << false;
    QTest::newRow("space") << int(B9600) << int(CS8) << int(PARENB | CMSPAR) << false
                           << "9600 baud, space parity, 1 stop bit" << false;
    QTest::newRow("two stop bits") << int(B9600) << int(CS8) << 0 << true << "9600 baud, 2 stop bits" << false;
    QTest::newRow("115200 odd 2") << int(B115200) << int(CS8) << int(PARENB | PARODD) << true
                                  << "115200 baud, odd parity, 2 stop bits" << false;
    // The kernel keeps a pseudo-terminal at 8 bits without parity; should that
    // ever change, these rows say so and the check can cover them.
    QTest::newRow("7 bits do not show") << int(B9600) << int(CS7) << 0 << false << "9600 baud, 1 stop bit" << true;
    QTest::newRow("even parity does not show")
        << int(B9600) << int(CS8) << int(PARENB) << false << "9600 baud, 1 stop bit" << true;
}

void TestDevsimUnits::lineSettingsOnARealPty()
{
    QFETCH(int, speed);
    QFETCH(int, size);
    QFETCH(int, parity);
    QFETCH(bool, twoStops);
    QFETCH(QString, described);
    QFETCH(bool, ok);

    int master = -1;
    int slave = -1;
    QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios tio{};
    QCOMPARE(::tcgetattr(slave, &tio), 0);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, speed_t(speed));
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB)) | tcflag_t(size) | tcflag_t(parity)
        | (twoStops ? CSTOPB : 0);
    QCOMPARE(::tcsetattr(slave, TCSANOW, &tio), 0);

    termios back{};
    QCOMPARE(::tcgetattr(slave, &back), 0);
    ::close(slave);
    ::close(master);
    const LineSettings settings = lineSettingsOf(back);
    QCOMPARE(QString::fromStdString(describeLineSettings(settings)), described);
    QCOMPARE(isDeviceSetting(settings), ok);
}

void TestDevsimUnits::lineSettingsSeenElsewhereAreNamed()
{
    // What a line that keeps every flag would show.
    termios tio{};
    ::cfsetspeed(&tio, B1200);
    tio.c_cflag |= CS7 | PARENB;
    const LineSettings settings = lineSettingsOf(tio);
    QCOMPARE(QString::fromStdString(describeLineSettings(settings)),
             QStringLiteral("1200 baud, 7 data bits, even parity, 1 stop bit"));
    QVERIFY(!isDeviceSetting(settings));
    LineSettings right = settings;
    right.baud = 9600;
    right.dataBits = 8;
    right.parity = 'N';
    QVERIFY(isDeviceSetting(right));
    QVERIFY(right != settings);
}

QTEST_APPLESS_MAIN(TestDevsimUnits)
#include "test_devsim_units.moc"
