// The real queltor-web beside the real panel, COM1 a pseudo-terminal, called
// with curl as a script calls it: tokens, every call and its status, the
// limits, sessions and the Origin rule, TLS, and where it may listen. A
// stand-in panel plays one that dies between taking a call and replying.
#include "link/settings_store.h"
#include "remote/panel_socket.h"

#include "programs.h"
#include "pseudo_tty.h"
#include "stand_in_panel.h"
#include "temp_config.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Http
{
    int status = 0; // 0: no answer
    QByteArray headers;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// curl's answer to args, headers and body apart.
Http curl(const QStringList &args)
{
    const Run done = run(QStringLiteral("curl"), QStringList{QStringLiteral("-s"), QStringLiteral("-i")} + args);
    Http http;
    const qsizetype split = done.out.indexOf("\r\n\r\n");
    if (split < 0)
        return http;
    http.headers = done.out.first(split);
    http.body = done.out.sliced(split + 4);
    http.status = http.headers.split(' ').value(1).toInt();
    return http;
}

QByteArray header(const Http &http, const QByteArray &name)
{
    for (const QByteArray &line : http.headers.split('\n')) {
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.sliced(name.size() + 1).trimmed();
    }
    return {};
}

// queltor-web as a user starts it; its address once it serves.
class WebProcess
{
public:
    explicit WebProcess(const QStringList &args)
    {
        m_process.start(QStringLiteral(QUELTOR_WEB), args);
        const QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
            m_process.waitForReadyRead(100);
        const QRegularExpressionMatch serving =
            QRegularExpression(QStringLiteral("serving (\\S+) ")).match(QString::fromUtf8(m_process.readLine()));
        url = serving.captured(1);
    }
    ~WebProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    WebProcess(const WebProcess &) = delete;
    WebProcess &operator=(const WebProcess &) = delete;

    // Ends it; what it wrote on standard error.
    QByteArray stop()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
        return m_process.readAllStandardError();
    }

    QString url; // empty when it did not serve

private:
    QProcess m_process;
};

QString addToken(const QString &name)
{
    const Run added = run(QStringLiteral(QUELTOR_WEB), {QStringLiteral("--add-token"), name});
    return QString::fromLatin1(added.out.trimmed().split('\n').last());
}

QString bearer(const QString &token) { return QStringLiteral("Authorization: Bearer ") + token; }

} // namespace

class TestWebApi : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void calls_data();
    void calls();
    void slowAndIdleConnectionsAreCutOff();
    void failedSignInsAreLimitedPerAddress();
    void sessionsAndTheOrigin();
    void withoutAReply_data();
    void withoutAReply();
    void tls();
    void whereItMayListen_data();
    void whereItMayListen();

private:
    QString call(const QString &path) const { return m_web->url.chopped(1) + path; }

    std::unique_ptr<TempConfig> m_config;
    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<Pty> m_com1;
    std::unique_ptr<PanelProcess> m_panel;
    std::unique_ptr<WebProcess> m_web;
    QString m_token;
    QString m_revoked;
};

void TestWebApi::initTestCase()
{
    m_config = std::make_unique<TempConfig>();
    m_runtime = std::make_unique<QTemporaryDir>();
    qputenv("XDG_RUNTIME_DIR", m_runtime->path().toLocal8Bit());
    m_com1 = std::make_unique<Pty>();
    m_config->mapPort(1, m_com1->slavePath());
    m_panel = std::make_unique<PanelProcess>();
    QVERIFY(m_panel->serving());

    m_token = addToken(QStringLiteral("script"));
    m_revoked = addToken(QStringLiteral("lost-phone"));
    QCOMPARE(m_token.size(), 43);
    QCOMPARE(run(QStringLiteral(QUELTOR_WEB), {QStringLiteral("--list-tokens")}).out,
             QByteArray("script\nlost-phone\n"));
    QCOMPARE(run(QStringLiteral(QUELTOR_WEB), {QStringLiteral("--revoke-token"), QStringLiteral("lost-phone")}).status,
             0);
    QCOMPARE(run(QStringLiteral(QUELTOR_WEB), {QStringLiteral("--list-tokens")}).out, QByteArray("script\n"));
    m_web = std::make_unique<WebProcess>(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY(!m_web->url.isEmpty());
}

void TestWebApi::cleanupTestCase()
{
    m_web.reset();
    m_panel.reset();
}

void TestWebApi::calls_data()
{
    QTest::addColumn<QString>("token"); // none, wrong, revoked or good
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body"); // GET when empty, else POST
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // the refusal's code
    QTest::addColumn<QByteArray>("wire");

    const QByteArray select7 = R"({"channel": 7})";
    // In this order: each call finds the panel as the one before left it.
    QTest::newRow("no token") << "none"
                              << "/api/select" << select7 << 401 << "token" << QByteArray();
    QTest::newRow("no token, status") << "none"
                                      << "/api/status" << QByteArray() << 401 << "token" << QByteArray();
    QTest::newRow("wrong token") << "wrong"
                                 << "/api/select" << select7 << 401 << "token" << QByteArray();
    QTest::newRow("revoked token") << "revoked"
                                   << "/api/select" << select7 << 401 << "token" << QByteArray();
    QTest::newRow("select") << "good"
                            << "/api/select" << select7 << 200 << "" << commands({7});
    QTest::newRow("status") << "good"
                            << "/api/status" << QByteArray() << 200 << "" << QByteArray();
    QTest::newRow("outside the bank") << "good"
                                      << "/api/select" << QByteArray(R"({"channel": 20})") << 409 << "channel"
                                      << QByteArray();
    QTest::newRow("scan") << "good"
                          << "/api/scan" << QByteArray(R"({"start": 2, "end": 4, "term": 60})") << 200 << ""
                          << QByteArray();
    QTest::newRow("select while it scans") << "good"
                                           << "/api/select" << select7 << 409 << "scan" << QByteArray();
    QTest::newRow("stop") << "good"
                          << "/api/stop" << QByteArray("{}") << 200 << "" << QByteArray();
    QTest::newRow("a scan the panel refuses")
        << "good"
        << "/api/scan" << QByteArray(R"({"start": 4, "end": 2, "term": 1})") << 409 << "scan" << QByteArray();
    QTest::newRow("not what select takes")
        << "good"
        << "/api/select" << QByteArray(R"({"channel": "07"})") << 400 << "request" << QByteArray();
    QTest::newRow("a body over 4 KB") << "good"
                                      << "/api/select" << QByteArray(8192, ' ') << 413 << "too-large" << QByteArray();
    QTest::newRow("a request over 64 KB")
        << "good"
        << "/api/select" << QByteArray(200000, ' ') << 413 << "too-large" << QByteArray();
    QTest::newRow("no such call") << "good"
                                  << "/api/jump" << QByteArray() << 404 << "not-found" << QByteArray();
}

void TestWebApi::calls()
{
    QFETCH(QString, token);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(QByteArray, wire);
    QStringList args{call(path)};
    if (token != QLatin1String("none")) {
        const QString sent = token == QLatin1String("good") ? m_token
            : token == QLatin1String("revoked")             ? m_revoked
                                                            : m_token.left(42) + QLatin1Char('x');
        args << QStringLiteral("-H") << bearer(sent);
    }
    QTemporaryFile bodyFile;
    if (!body.isEmpty()) {
        QVERIFY(bodyFile.open());
        bodyFile.write(body);
        bodyFile.flush();
        args << QStringLiteral("--data-binary") << QLatin1Char('@') + bodyFile.fileName();
    }
    const Http answer = curl(args);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.json().value(QStringLiteral("error")).toString(), error);
    QCOMPARE(header(answer, "Content-Type"), QByteArray("application/json"));
    QCOMPARE(header(answer, "Content-Security-Policy").left(19), QByteArray("default-src 'self';"));
    if (status == 401)
        QVERIFY(header(answer, "WWW-Authenticate").startsWith("Bearer"));
    QCOMPARE(m_com1->readAll(), wire);
    const QJsonObject shown = QJsonDocument::fromJson(ctl({QStringLiteral("status")}).out).object();
    // Cut off by the guard before the HTTP server has read it all.
    if (QTest::currentDataTag() == QLatin1String("a request over 64 KB"))
        QVERIFY(answer.json().value(QStringLiteral("message")).toString().endsWith(QStringLiteral("64 KB")));
    if (QTest::currentDataTag() == QLatin1String("status"))
        QCOMPARE(answer.json(), shown);
    if (QTest::currentDataTag() == QLatin1String("scan"))
        QCOMPARE(shown[QStringLiteral("scanning")], QJsonValue(true));
    if (QTest::currentDataTag() == QLatin1String("stop"))
        QCOMPARE(shown[QStringLiteral("scanning")], QJsonValue(false));
}

void TestWebApi::slowAndIdleConnectionsAreCutOff()
{
    const QUrl url(m_web->url);
    QTcpSocket slow;
    QTcpSocket idle;
    for (QTcpSocket *socket : {&slow, &idle}) {
        socket->connectToHost(url.host(), quint16(url.port()));
        QVERIFY(socket->waitForConnected(5000));
    }
    slow.write("POST /api/select HTTP/1.1\r\nHost: " + url.authority().toLatin1() + "\r\nContent-Length: 20\r\n\r\n{");
    // Others are served meanwhile.
    QCOMPARE(curl({QStringLiteral("-H"), bearer(m_token), call(QStringLiteral("/api/status"))}).status, 200);
    QElapsedTimer waited;
    waited.start();
    for (QTcpSocket *socket : {&slow, &idle}) {
        while (socket->state() == QAbstractSocket::ConnectedState && waited.elapsed() < 20000)
            socket->waitForReadyRead(100);
    }
    QVERIFY2(waited.elapsed() >= 9000 && waited.elapsed() < 20000, qPrintable(QString::number(waited.elapsed())));
    QVERIFY2(slow.readAll().startsWith("HTTP/1.1 408 "), "no 408 for the request that never came whole");
    QCOMPARE(idle.readAll(), QByteArray());
    QCOMPARE(m_com1->readAll(), QByteArray());
}

void TestWebApi::failedSignInsAreLimitedPerAddress()
{
    // 127.0.0.2 is loopback too, and another address to the server.
    const QStringList from{QStringLiteral("--interface"), QStringLiteral("127.0.0.2")};
    const QStringList wrong{QStringLiteral("-H"), bearer(QStringLiteral("guess"))};
    int refused = 0;
    Http answer;
    for (; refused < 10; ++refused) {
        answer = curl(from + wrong + QStringList{call(QStringLiteral("/api/status"))});
        if (answer.status != 401)
            break;
    }
    QCOMPARE(refused, 5);
    QCOMPARE(answer.status, 429);
    QVERIFY(header(answer, "Retry-After").toInt() > 0);
    // The right token too, and a sign-in, wait their turn from there; other addresses do not.
    const QStringList good{QStringLiteral("-H"), bearer(m_token)};
    QCOMPARE(curl(from + good + QStringList{call(QStringLiteral("/api/status"))}).status, 429);
    QCOMPARE(curl(from
                  + QStringList{QStringLiteral("-d"), QStringLiteral("{\"token\":\"%1\"}").arg(m_token),
                                call(QStringLiteral("/api/session"))})
                 .status,
             429);
    QCOMPARE(curl(good + QStringList{call(QStringLiteral("/api/status"))}).status, 200);
}

void TestWebApi::sessionsAndTheOrigin()
{
    const QString page = m_web->url.chopped(1); // the page's origin, as a browser sends it
    const QStringList signIn{QStringLiteral("-H"), QStringLiteral("Origin: ") + page, QStringLiteral("-d"),
                             QStringLiteral("{\"token\":\"%1\"}").arg(m_token), call(QStringLiteral("/api/session"))};
    const Http signedIn = curl(signIn);
    QCOMPARE(signedIn.status, 200);
    const QByteArray cookie = header(signedIn, "Set-Cookie");
    QVERIFY2(cookie.contains("; HttpOnly") && cookie.contains("; SameSite=Strict") && !cookie.contains("secure"),
             cookie.constData());
    const QStringList session{QStringLiteral("-H"),
                              QStringLiteral("Cookie: ") + QString::fromLatin1(cookie.split(';').first())};
    const QStringList select{QStringLiteral("-d"), QStringLiteral("{\"channel\": 5}"),
                             call(QStringLiteral("/api/select"))};

    QCOMPARE(curl(session + QStringList{call(QStringLiteral("/api/status"))}).status, 200);
    // A change by cookie must come from the page itself.
    QCOMPARE(curl(session + select).json().value(QStringLiteral("error")).toString(), QStringLiteral("origin"));
    QCOMPARE(curl(session + QStringList{QStringLiteral("-H"), QStringLiteral("Origin: http://evil.example")} + select)
                 .status,
             403);
    QCOMPARE(m_com1->readAll(), QByteArray());
    QCOMPARE(curl(session + QStringList{QStringLiteral("-H"), QStringLiteral("Origin: ") + page} + select).status, 200);
    QCOMPARE(m_com1->readAll(), commands({5}));
    // A bearer token from another page's script is refused too.
    QCOMPARE(curl(QStringList{QStringLiteral("-H"), bearer(m_token), QStringLiteral("-H"),
                              QStringLiteral("Origin: http://evil.example")}
                  + select)
                 .status,
             403);

    QCOMPARE(curl(session
                  + QStringList{QStringLiteral("-X"), QStringLiteral("DELETE"), QStringLiteral("-H"),
                                QStringLiteral("Origin: ") + page, call(QStringLiteral("/api/session"))})
                 .status,
             200);
    QCOMPARE(curl(session + QStringList{call(QStringLiteral("/api/status"))}).status, 401);
}

void TestWebApi::withoutAReply_data()
{
    QTest::addColumn<bool>("standIn"); // a panel that takes the call and ends without a reply; else none
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::newRow("no panel: not done") << false << 503 << "no-panel";
    QTest::newRow("taken, then no reply: not known") << true << 504 << "unknown";
}

void TestWebApi::withoutAReply()
{
    QFETCH(bool, standIn);
    QFETCH(int, status);
    QFETCH(QString, error);
    TempConfig otherHome; // a settings file the real panel does not keep
    std::optional<StandInPanel> panel;
    if (standIn)
        panel.emplace(queltor::panelSocketPath(queltor::SettingsStore().fileName()), StandInPanel::Act::TakeThenClose);
    const QString token = addToken(QStringLiteral("script"));
    WebProcess web({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
    QVERIFY(!web.url.isEmpty());
    const Http answer = curl({QStringLiteral("-H"), bearer(token), QStringLiteral("-d"),
                              QStringLiteral("{\"channel\": 7}"), web.url + QStringLiteral("api/select")});
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.json().value(QStringLiteral("error")).toString(), error);
    QCOMPARE(m_com1->readAll(), QByteArray());
}

void TestWebApi::tls()
{
    QTemporaryDir dir;
    const QString certificate = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const Run made = run(QStringLiteral("openssl"),
                         {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                          QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                          QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"),
                          QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                          QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    QVERIFY2(made.status == 0, made.err.constData());
    WebProcess web({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--tls-cert"),
                    certificate, QStringLiteral("--tls-key"), key});
    QVERIFY2(web.url.startsWith(QStringLiteral("https://127.0.0.1:")), qPrintable(web.url));
    const QStringList trusted{QStringLiteral("--cacert"), certificate};
    QCOMPARE(curl(trusted + QStringList{QStringLiteral("-H"), bearer(m_token), web.url + QStringLiteral("api/status")})
                 .status,
             200);
    const Http signedIn = curl(trusted
                               + QStringList{QStringLiteral("-d"), QStringLiteral("{\"token\":\"%1\"}").arg(m_token),
                                             web.url + QStringLiteral("api/session")});
    QVERIFY2(header(signedIn, "Set-Cookie").contains("; secure"), header(signedIn, "Set-Cookie").constData());
    // Plain HTTP gets nowhere there.
    QString plain = web.url;
    plain.replace(QStringLiteral("https:"), QStringLiteral("http:"));
    QCOMPARE(curl({QStringLiteral("-H"), bearer(m_token), plain + QStringLiteral("api/status")}).status, 0);
}

void TestWebApi::whereItMayListen_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("serves");
    QTest::addColumn<QByteArray>("err"); // how it begins
    const QString listen = QStringLiteral("--listen");
    QTest::newRow("loopback") << QStringList{listen, QStringLiteral("127.0.0.1:0")} << true << QByteArray();
    QTest::newRow("every address, plain") << QStringList{listen, QStringLiteral("0.0.0.0:0")} << false
                                          << QByteArray("queltor-web: usage: 0.0.0.0 is reachable from other machines");
    QTest::newRow("every address, --insecure-http")
        << QStringList{listen, QStringLiteral("0.0.0.0:0"), QStringLiteral("--insecure-http")} << true
        << QByteArray("queltor-web: warning: plain HTTP on 0.0.0.0");
    QTest::newRow("a name") << QStringList{listen, QStringLiteral("localhost:0")} << false
                            << QByteArray("queltor-web: usage: --listen takes ADDRESS:PORT");
    QTest::newRow("certificate without key") << QStringList{QStringLiteral("--tls-cert"), QStringLiteral("c.pem")}
                                             << false << QByteArray("queltor-web: usage: --tls-cert and --tls-key");
}

void TestWebApi::whereItMayListen()
{
    QFETCH(QStringList, args);
    QFETCH(bool, serves);
    QFETCH(QByteArray, err);
    WebProcess web(args);
    QCOMPARE(!web.url.isEmpty(), serves);
    if (serves)
        QCOMPARE(curl({web.url + QStringLiteral("api/status")}).status, 401);
    const QByteArray errors = web.stop();
    QVERIFY2(errors.startsWith(err), errors.constData());
}

QTEST_GUILESS_MAIN(TestWebApi)
#include "test_web_api.moc"
