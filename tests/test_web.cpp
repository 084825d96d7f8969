// queltor-web's logic that needs no network: the token file, failed sign-ins
// per address, sessions, and how API calls map to panel requests and panel
// answers to HTTP statuses.
#include "temp_config.h"

#include "web/api.h"
#include "web/sessions.h"
#include "web/sign_in_limiter.h"
#include "web/token_store.h"

#include <QFile>
#include <QtTest>

using namespace queltor;
using namespace queltor::web;

Q_DECLARE_METATYPE(remote::Request::Verb)
Q_DECLARE_METATYPE(PanelAnswer::Outcome)

class TestWeb : public QObject
{
    Q_OBJECT
private slots:
    void tokensAreStoredAsHashesLineByLine();
    void tokenNames_data();
    void tokenNames();
    void failedSignInsArePerAddressAndRecover();
    void sessionsEndWithTheirLifetime();
    void cookieValues_data();
    void cookieValues();
    void callsMapToRequests_data();
    void callsMapToRequests();
    void answersMapToStatuses_data();
    void answersMapToStatuses();
    void origins_data();
    void origins();
};

void TestWeb::tokensAreStoredAsHashesLineByLine()
{
    TempConfig config;
    const QString file = TokenStore::fileBeside(config.fileName());
    QCOMPARE(file, config.path() + QStringLiteral("/QUELTOR/web-tokens"));
    QDir().mkpath(QFileInfo(file).absolutePath());
    {
        // A user's own lines stay as they are.
        QFile own(file);
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write("# phones on the floor\nnot a token line");
    }
    TokenStore tokens(file);
    QString why;
    const std::optional<QByteArray> phone = tokens.add(QStringLiteral("phone"), &why);
    const std::optional<QByteArray> tablet = tokens.add(QStringLiteral("tablet"), &why);
    QVERIFY2(phone && tablet, qPrintable(why));
    QCOMPARE(phone->size(), 43); // 256 bits in base64url
    QVERIFY(*phone != *tablet);
    QVERIFY(!tokens.add(QStringLiteral("phone"), &why));
    QVERIFY2(why.contains(QStringLiteral("already")), qPrintable(why));
    // Qt's "User" bits repeat the owner's for the owner.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFile::permissions(file) & (others | QFileDevice::ExeOwner), QFileDevice::Permissions());

    // Read afresh each time: a save replaces the file.
    const auto stored = [&file] {
        QFile text(file);
        return text.open(QIODevice::ReadOnly) ? text.readAll() : QByteArray();
    };
    QVERIFY(!stored().contains(*phone));
    QCOMPARE(stored(),
             "# phones on the floor\nnot a token line\nphone "
                 + QCryptographicHash::hash(*phone, QCryptographicHash::Sha256).toHex() + "\ntablet "
                 + QCryptographicHash::hash(*tablet, QCryptographicHash::Sha256).toHex() + '\n');
    QCOMPARE(tokens.names(), QStringList({QStringLiteral("phone"), QStringLiteral("tablet")}));

    QCOMPARE(tokens.match(*phone)->name, QStringLiteral("phone"));
    QVERIFY(!tokens.match(phone->chopped(1)));
    QVERIFY(!tokens.match(QByteArray()));
    const TokenStore::Holder holder = *tokens.match(*phone);
    QVERIFY(tokens.holds(holder));

    QVERIFY(tokens.revoke(QStringLiteral("phone"), &why));
    QVERIFY(!tokens.match(*phone));
    QVERIFY(!tokens.holds(holder));
    QCOMPARE(tokens.match(*tablet)->name, QStringLiteral("tablet"));
    QVERIFY(!tokens.revoke(QStringLiteral("phone"), &why));
    QVERIFY(stored().startsWith("# phones on the floor\nnot a token line\ntablet "));
    // A new token of a revoked name is a new token: the old one stays out.
    QVERIFY(tokens.add(QStringLiteral("phone"), &why));
    QVERIFY(!tokens.match(*phone));
}

void TestWeb::tokenNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("taken");
    QTest::newRow("plain") << "phone" << true;
    QTest::newRow("dots, dashes, underscores") << "studio-2.cam_1" << true;
    QTest::newRow("64 characters") << QString(64, QLatin1Char('a')) << true;
    QTest::newRow("65 characters") << QString(65, QLatin1Char('a')) << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("space") << "my phone" << false;
    QTest::newRow("line end") << "a\nb" << false;
    QTest::newRow("not ASCII") << "전화" << false;
}

void TestWeb::tokenNames()
{
    QFETCH(QString, name);
    QFETCH(bool, taken);
    TempConfig config;
    TokenStore tokens(TokenStore::fileBeside(config.fileName()));
    QString why;
    QCOMPARE(tokens.add(name, &why).has_value(), taken);
    QCOMPARE(tokens.names()->contains(name), taken);
}

void TestWeb::failedSignInsArePerAddressAndRecover()
{
    SignInLimiter limiter;
    const QString one = QStringLiteral("192.0.2.1");
    const QString other = QStringLiteral("192.0.2.2");
    qint64 now = 1000;
    for (int i = 0; i < SignInLimiter::kBurst; ++i) {
        QVERIFY(limiter.allowed(one, now));
        limiter.failed(one, now);
    }
    int retryAfter = 0;
    QVERIFY(!limiter.allowed(one, now, &retryAfter));
    QCOMPARE(retryAfter, int(SignInLimiter::kRecoveryMs / 1000));
    QVERIFY(limiter.allowed(other, now));
    // One more try after each recovery, and no burst again until all have run down.
    now += SignInLimiter::kRecoveryMs;
    QVERIFY(limiter.allowed(one, now));
    limiter.failed(one, now);
    QVERIFY(!limiter.allowed(one, now));
    now += SignInLimiter::kBurst * SignInLimiter::kRecoveryMs;
    QVERIFY(limiter.allowed(one, now));

    // With the table full of failing addresses, a new one is refused too.
    SignInLimiter full;
    for (int i = 0; i < SignInLimiter::kMaxAddresses; ++i)
        full.failed(QString::number(i), 0);
    QVERIFY(!full.allowed(other, 0));
    QVERIFY(full.allowed(other, SignInLimiter::kRecoveryMs));
}

void TestWeb::sessionsEndWithTheirLifetime()
{
    SessionStore sessions;
    const TokenStore::Holder holder{QStringLiteral("phone"), QByteArray(64, 'a')};
    const QByteArray id = sessions.open(holder, 0);
    QCOMPARE(id.size(), 43);
    QCOMPARE(sessions.find(id, SessionStore::kLifetimeMs - 1)->name, QStringLiteral("phone"));
    QVERIFY(!sessions.find(id.chopped(1), 0));
    QVERIFY(!sessions.find(QByteArray(), 0));
    QVERIFY(!sessions.find(id, SessionStore::kLifetimeMs));
    QCOMPARE(sessions.count(), 0);

    const QByteArray closed = sessions.open(holder, 0);
    sessions.close(closed);
    QVERIFY(!sessions.find(closed, 1));
    // Beyond the limit the oldest goes.
    const QByteArray oldest = sessions.open(holder, 1);
    QByteArray newest;
    for (int i = 0; i < SessionStore::kMaxSessions; ++i)
        newest = sessions.open(holder, 2 + i);
    QCOMPARE(sessions.count(), SessionStore::kMaxSessions);
    QVERIFY(!sessions.find(oldest, 1000));
    QVERIFY(sessions.find(newest, 1000));
}

void TestWeb::cookieValues_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("alone") << QByteArray("queltor_session=abc") << QByteArray("abc");
    QTest::newRow("among others") << QByteArray("a=1; queltor_session=abc; b=2") << QByteArray("abc");
    QTest::newRow("a longer name") << QByteArray("xqueltor_session=abc") << QByteArray();
    QTest::newRow("none") << QByteArray("a=1") << QByteArray();
    QTest::newRow("empty header") << QByteArray() << QByteArray();
}

void TestWeb::cookieValues()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, value);
    QCOMPARE(cookieValue(header, "queltor_session"), value);
}

void TestWeb::callsMapToRequests_data()
{
    QTest::addColumn<remote::Request::Verb>("verb");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("line"); // the panel's request line, or empty
    QTest::addColumn<int>("status");      // the refusal's, when there is no line

    using Verb = remote::Request::Verb;
    QTest::newRow("select") << Verb::Select << QByteArray(R"({"channel": 7})") << QByteArray("select 07\n") << 0;
    QTest::newRow("select 99, written 99.0")
        << Verb::Select << QByteArray(R"({"channel": 99.0})") << QByteArray("select 99\n") << 0;
    QTest::newRow("scan, term a number") << Verb::Scan << QByteArray(R"({"start": 3, "end": 9, "term": 0.5})")
                                         << QByteArray("scan 03 09 0.5\n") << 0;
    QTest::newRow("scan, term a text") << Verb::Scan << QByteArray(R"({"start": 3, "end": 9, "term": "2"})")
                                       << QByteArray("scan 03 09 2\n") << 0;
    QTest::newRow("scan, a term the panel refuses")
        << Verb::Scan << QByteArray(R"({"start": 9, "end": 3, "term": -1})") << QByteArray("scan 09 03 -1\n") << 0;
    QTest::newRow("stop, no body") << Verb::Stop << QByteArray() << QByteArray("stop\n") << 0;
    QTest::newRow("status") << Verb::Status << QByteArray() << QByteArray("status\n") << 0;
    QTest::newRow("select 100") << Verb::Select << QByteArray(R"({"channel": 100})") << QByteArray() << 400;
    QTest::newRow("select 7.5") << Verb::Select << QByteArray(R"({"channel": 7.5})") << QByteArray() << 400;
    QTest::newRow("select \"07\"") << Verb::Select << QByteArray(R"({"channel": "07"})") << QByteArray() << 400;
    QTest::newRow("select, no channel") << Verb::Select << QByteArray("{}") << QByteArray() << 400;
    QTest::newRow("select, not JSON") << Verb::Select << QByteArray("channel=7") << QByteArray() << 400;
    QTest::newRow("select, an array") << Verb::Select << QByteArray("[7]") << QByteArray() << 400;
    QTest::newRow("scan, no term") << Verb::Scan << QByteArray(R"({"start": 3, "end": 9})") << QByteArray() << 400;
    QTest::newRow("scan, term 1e9") << Verb::Scan << QByteArray(R"({"start": 3, "end": 9, "term": 1e9})")
                                    << QByteArray() << 400;
    QTest::newRow("scan, term \".5\"") << Verb::Scan << QByteArray(R"({"start": 3, "end": 9, "term": ".5"})")
                                       << QByteArray() << 400;
    QTest::newRow("a body over 4 KB") << Verb::Select
                                      << QByteArray(R"({"channel": 7, "x": ")") + QByteArray(4096, 'x') + "\"}"
                                      << QByteArray() << 413;
    QTest::newRow("stop, a body over 4 KB") << Verb::Stop << QByteArray(4097, ' ') << QByteArray() << 413;
}

void TestWeb::callsMapToRequests()
{
    QFETCH(remote::Request::Verb, verb);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, line);
    QFETCH(int, status);
    const std::variant<remote::Request, ApiAnswer> asked = panelRequest(verb, body);
    if (!line.isEmpty()) {
        QVERIFY(std::holds_alternative<remote::Request>(asked));
        QCOMPARE(remote::requestLine(std::get<remote::Request>(asked)), line);
        return;
    }
    QVERIFY(std::holds_alternative<ApiAnswer>(asked));
    QCOMPARE(std::get<ApiAnswer>(asked).status, status);
    const QJsonObject refused = QJsonDocument::fromJson(std::get<ApiAnswer>(asked).body).object();
    QCOMPARE(refused.keys(), QStringList({QStringLiteral("error"), QStringLiteral("message")}));
}

void TestWeb::answersMapToStatuses_data()
{
    QTest::addColumn<PanelAnswer::Outcome>("outcome");
    QTest::addColumn<QByteArray>("reply"); // the panel's reply line
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    using Outcome = PanelAnswer::Outcome;
    const QByteArray status = R"({"bank":20,"channel":7,"panel":true})";
    QTest::newRow("status") << Outcome::Answered << "ok " + status << 200 << status;
    QTest::newRow("done") << Outcome::Answered << QByteArray("ok") << 200 << QByteArray(R"({"ok":true})");
    QTest::newRow("outside the bank")
        << Outcome::Answered << QByteArray("error channel channel 20 is not in the bank of 20 channels, 00 to 19")
        << 409
        << QByteArray(R"({"error":"channel","message":"channel 20 is not in the bank of 20 channels, 00 to 19"})");
    QTest::newRow("scan running") << Outcome::Answered << QByteArray("error scan a scan is running; stop it first")
                                  << 409
                                  << QByteArray(R"({"error":"scan","message":"a scan is running; stop it first"})");
    QTest::newRow("port") << Outcome::Answered << QByteArray("error port COM1 could not be written to") << 409
                          << QByteArray(R"({"error":"port","message":"COM1 could not be written to"})");
    QTest::newRow("busy") << Outcome::Answered << QByteArray("error busy too many clients at once; try again") << 503
                          << QByteArray(R"({"error":"busy","message":"too many clients at once; try again"})");
    QTest::newRow("panel failed") << Outcome::Answered << QByteArray("error panel an unexpected failure") << 500
                                  << QByteArray(R"({"error":"panel","message":"an unexpected failure"})");
    QTest::newRow("no panel") << Outcome::NoPanel << QByteArray() << 503
                              << QByteArray(
                                     R"({"error":"no-panel","message":"no QUELTOR panel is running for /x.conf"})");
    QTest::newRow("silent") << Outcome::Silent << QByteArray() << 503
                            << QByteArray(R"({"error":"timeout","message":"the panel did not take the request within )"
                                          R"(5 seconds; nothing was done"})");
    QTest::newRow("unknown") << Outcome::Unknown << QByteArray() << 504
                             << QByteArray(R"({"error":"unknown","message":"the panel started on the request but )"
                                           R"(did not say how it ended; whether it was done is not known"})");
    QTest::newRow("socket") << Outcome::Failed << QByteArray() << 503
                            << QByteArray(R"({"error":"socket","message":"the panel's socket cannot be used: why"})");
}

void TestWeb::answersMapToStatuses()
{
    QFETCH(PanelAnswer::Outcome, outcome);
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    PanelAnswer answer;
    answer.outcome = outcome;
    answer.why = QStringLiteral("why");
    if (outcome == PanelAnswer::Outcome::Answered)
        answer.reply = *remote::parseReply(reply);
    const ApiAnswer answered = apiAnswer(answer, QStringLiteral("/x.conf"));
    QCOMPARE(answered.status, status);
    QCOMPARE(answered.body, body);
}

void TestWeb::origins_data()
{
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("same");
    QTest::newRow("same") << QByteArray("http://192.0.2.7:8686") << QByteArray("192.0.2.7:8686") << false << true;
    QTest::newRow("same, TLS") << QByteArray("https://panel.example") << QByteArray("panel.example") << true << true;
    QTest::newRow("case") << QByteArray("http://Panel.Example:8686") << QByteArray("panel.example:8686") << false
                          << true;
    QTest::newRow("another site") << QByteArray("http://evil.example") << QByteArray("192.0.2.7:8686") << false
                                  << false;
    QTest::newRow("another port") << QByteArray("http://192.0.2.7:9999") << QByteArray("192.0.2.7:8686") << false
                                  << false;
    QTest::newRow("plain page, TLS server")
        << QByteArray("http://panel.example") << QByteArray("panel.example") << true << false;
    QTest::newRow("opaque") << QByteArray("null") << QByteArray("192.0.2.7:8686") << false << false;
    QTest::newRow("no host") << QByteArray("http://192.0.2.7:8686") << QByteArray() << false << false;
}

void TestWeb::origins()
{
    QFETCH(QByteArray, origin);
    QFETCH(QByteArray, host);
    QFETCH(bool, tls);
    QFETCH(bool, same);
    QCOMPARE(sameOrigin(origin, host, tls), same);
}

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
