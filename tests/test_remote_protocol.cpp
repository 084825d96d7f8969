// What scripts and the panel say on its socket: the request lines taken and
// refused, the reply lines always one line, and the status JSON as a parser reads it.
#include "remote/protocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace queltor::remote;

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(PanelStatus)

class TestRemoteProtocol : public QObject
{
    Q_OBJECT

private slots:
    void requestLines_data();
    void requestLines();
    void replyIsAlwaysOneLine_data();
    void replyIsAlwaysOneLine();
    void statusReadsBackAsJson_data();
    void statusReadsBackAsJson();
};

void TestRemoteProtocol::requestLines_data()
{
    QTest::addColumn<QByteArray>("line"); // without its line end
    QTest::addColumn<bool>("taken");

    for (const char *taken : {"select 00", "select 07", "select 99", "status", "stop", "raise", "watch",
                              "scan 03 09 0.5", "scan 00 99 65.535", "scan 09 03 1", "scan 03 09 -1", "scan 03 09 0",
                              "scan 03 09 999999.999999", "select 07 deadline=0", "status deadline=123456789012345678",
                              "scan 03 09 0.5 deadline=86400000", "watch deadline=1"})
        QTest::newRow(taken) << QByteArray(taken) << true;
    // A range or order the panel refuses is still a request: the refusal is the panel's, with the window's words.
    const char *refused[] = {"",
                             "select 7",
                             "select 100",
                             "select -1",
                             "select 0x",
                             "select 07 ",
                             " select 07",
                             "select  07",
                             "select\t07",
                             "select 07\r",
                             "SELECT 07",
                             "select",
                             "status now",
                             "stop 1",
                             "raise x",
                             "watch 07",
                             "scan 3 9 0.5",
                             "scan 03 09",
                             "scan 03 09 .5",
                             "scan 03 09 1.",
                             "scan 03 09 1e3",
                             "scan 03 09 1234567",
                             "scan 03 09 0.1234567",
                             "scan 03 09 --1",
                             "scan 03 09 +1",
                             "scan 03 09 0.5 x",
                             "hello",
                             "select 07 deadline=",
                             "select 07 deadline=007",
                             "select 07 deadline=-1",
                             "select 07 deadline=1234567890123456789",
                             "select 07 deadline=5 deadline=6",
                             "select deadline=5 07",
                             "deadline=5",
                             "select \xef\xbc\x90\xef\xbc\x97"};
    for (const char *line : refused)
        QTest::newRow(qPrintable(QStringLiteral("refused: \"%1\"").arg(QString::fromUtf8(line))))
            << QByteArray(line) << false;
    QTest::newRow("refused: NUL") << QByteArray("status\0", 7) << false;
    QTest::newRow("refused: 256 bytes") << "status " + QByteArray(249, 'x') << false;
}

void TestRemoteProtocol::requestLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, taken);
    QString why;
    const std::optional<Request> request = parseRequest(line, &why);
    QCOMPARE(request.has_value(), taken);
    if (taken)
        QCOMPARE(requestLine(*request), line + '\n'); // one way to write each request
    else
        QVERIFY(!why.isEmpty());
}

void TestRemoteProtocol::replyIsAlwaysOneLine_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("ok") << Reply::done() << QByteArray("ok\n");
    QTest::newRow("ok with data") << Reply::done("{\"a\":1}") << QByteArray("ok {\"a\":1}\n");
    QTest::newRow("error") << Reply::failed("port", QStringLiteral("COM1 (/dev/ttyS0) could not be written to."))
                           << QByteArray("error port COM1 (/dev/ttyS0) could not be written to.\n");
    QTest::newRow("line breaks in the text") << Reply::failed("port", QStringLiteral("one\n\ntwo\rthree\u2028four"))
                                             << QByteArray("error port one  two three four\n");
    QTest::newRow("Korean kept") << Reply::failed("port", QStringLiteral("포트를 열 수 없습니다"))
                                 << QByteArray("error port 포트를 열 수 없습니다\n");
    QTest::newRow("a code is one word") << Reply::failed("no panel\n", QStringLiteral("x"))
                                        << QByteArray("error no-panel- x\n");
    // Cut within the limit, at a character's start.
    const QString longText = QString(4000, QChar(0xD55C)); // three bytes each
    QByteArray cut = "error port " + longText.toUtf8();
    cut.truncate(kMaxReplyBytes - 1 - (kMaxReplyBytes - 1 - 11) % 3);
    QTest::newRow("long text") << Reply::failed("port", longText) << cut + '\n';
}

void TestRemoteProtocol::replyIsAlwaysOneLine()
{
    QFETCH(Reply, reply);
    QFETCH(QByteArray, line);
    const QByteArray written = replyLine(reply);
    QCOMPARE(written, line);
    QVERIFY(written.size() <= kMaxReplyBytes);
    const std::optional<Reply> read = parseReply(written.chopped(1));
    QVERIFY(read);
    QCOMPARE(read->ok(), reply.ok());
    QCOMPARE(read->data, reply.data);
}

void TestRemoteProtocol::statusReadsBackAsJson_data()
{
    QTest::addColumn<PanelStatus>("status");
    QTest::addColumn<QString>("expectedTerm"); // as JSON writes it

    PanelStatus idle;
    idle.port = 2;
    idle.device = QStringLiteral("/dev/serial/by-id/usb-\"Rig\"\\x,1-한국\\xff");
    idle.connected = true;
    idle.channel = 7;
    idle.bank = 40;
    idle.scanStart = 3;
    idle.scanEnd = 39;
    idle.scanTermMs = 1000;
    QTest::newRow("idle, a device path with quotes and backslashes") << idle << QStringLiteral("1");

    PanelStatus scanning = idle;
    scanning.automatic = true;
    scanning.scanning = true;
    scanning.scanTermMs = 500;
    scanning.connected = false;
    QTest::newRow("scanning") << scanning << QStringLiteral("0.5");

    PanelStatus refusedTerm = idle;
    refusedTerm.scanTermMs = std::nullopt;
    QTest::newRow("a term the scan would refuse") << refusedTerm << QStringLiteral("null");
}

void TestRemoteProtocol::statusReadsBackAsJson()
{
    QFETCH(PanelStatus, status);
    QFETCH(QString, expectedTerm);
    const QByteArray json = statusJson(status);
    QVERIFY(!json.contains('\n'));
    QVERIFY(json.contains("\"scan_term\":" + expectedTerm.toUtf8()));
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.size(), 11);
    QCOMPARE(object[QStringLiteral("panel")], QJsonValue(true));
    QCOMPARE(object[QStringLiteral("port")].toString(), QStringLiteral("COM%1").arg(status.port));
    QCOMPARE(object[QStringLiteral("device")].toString(), status.device);
    QCOMPARE(object[QStringLiteral("connected")].toBool(), status.connected);
    QCOMPARE(object[QStringLiteral("mode")].toString(),
             status.automatic ? QStringLiteral("auto") : QStringLiteral("manual"));
    QCOMPARE(object[QStringLiteral("channel")].toInt(-1), status.channel);
    QCOMPARE(object[QStringLiteral("bank")].toInt(-1), status.bank);
    QCOMPARE(object[QStringLiteral("scanning")].toBool(), status.scanning);
    QCOMPARE(object[QStringLiteral("scan_start")].toInt(-1), status.scanStart);
    QCOMPARE(object[QStringLiteral("scan_end")].toInt(-1), status.scanEnd);

    QCOMPARE(QJsonDocument::fromJson(noPanelJson()).object(), QJsonObject({{QStringLiteral("panel"), false}}));
}

QTEST_APPLESS_MAIN(TestRemoteProtocol)
#include "test_remote_protocol.moc"
