#include "web/web_server.h"

#include "remote/panel_call.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkCookie>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace queltor::web {

namespace {

using Method = QHttpServerRequest::Method;
using StatusCode = QHttpServerResponder::StatusCode;

const QByteArray kCookieName = "queltor_session";
const QByteArray kJson = "application/json";

// A listening server whose connections the guard sees before the HTTP server reads them.
template <typename Server>
class GuardedServer : public Server
{
public:
    GuardedServer(ConnectionGuard *guard, QObject *parent)
        : Server(parent)
        , m_guard(guard)
    {
    }

    QTcpSocket *nextPendingConnection() override
    {
        while (QTcpSocket *socket = Server::nextPendingConnection()) {
            if (m_guard->admit(socket))
                return socket;
        }
        return nullptr;
    }

private:
    ConnectionGuard *m_guard;
};

QByteArray eventOf(const QByteArray &status) { return "data: " + status + "\n\n"; }

} // namespace

WebServer::WebServer(Setup setup, QObject *parent)
    : QObject(parent)
    , m_setup(std::move(setup))
    , m_tokens(m_setup.tokenFile)
    , m_status(remote::noPanelJson())
{
    m_clock.start();
    addRoutes();
    m_push.setSingleShot(true);
    connect(&m_push, &QTimer::timeout, this, [this] {
        if (std::exchange(m_pushPending, false))
            pushStatus();
    });
    connect(&m_keepAlive, &QTimer::timeout, this, &WebServer::keepStreamsAlive);
    m_keepAlive.start(kKeepAliveMs);
    m_rewatch.setSingleShot(true);
    connect(&m_rewatch, &QTimer::timeout, this, &WebServer::watchPanel);
    watchPanel();
}

WebServer::~WebServer() = default;

bool WebServer::listen(const QHostAddress &address, quint16 port, QString *why)
{
    QTcpServer *server = nullptr;
    if (m_setup.tls) {
        auto *secure = new GuardedServer<QSslServer>(&m_guard, this);
        secure->setSslConfiguration(*m_setup.tls);
        server = secure;
    } else {
        server = new GuardedServer<QTcpServer>(&m_guard, this);
    }
    if (!server->listen(address, port)) {
        *why = server->errorString();
        delete server;
        return false;
    }
    m_http.bind(server);
    return true;
}

quint16 WebServer::port() const
{
    const QList<QTcpServer *> servers = m_http.servers();
    return servers.isEmpty() ? 0 : servers.first()->serverPort();
}

void WebServer::addRoutes()
{
    const auto page = [this](const char *path, const char *file, const char *type) {
        m_http.route(QString::fromLatin1(path), Method::Get,
                     [this, file, type](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                         servePage(std::move(responder), QString::fromLatin1(file), type);
                     });
    };
    page("/", "index.html", "text/html; charset=utf-8");
    page("/queltor.js", "queltor.js", "text/javascript; charset=utf-8");
    page("/queltor.css", "queltor.css", "text/css; charset=utf-8");
    page("/queltor.png", "queltor.png", "image/png");

    using Verb = remote::Request::Verb;
    const auto call = [this](const char *path, Method method, Verb verb) {
        m_http.route(QString::fromLatin1(path), method,
                     [this, verb](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                         api(verb, request, std::move(responder));
                     });
    };
    call("/api/status", Method::Get, Verb::Status);
    call("/api/select", Method::Post, Verb::Select);
    call("/api/scan", Method::Post, Verb::Scan);
    call("/api/stop", Method::Post, Verb::Stop);
    m_http.route(QStringLiteral("/api/events"), Method::Get,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     events(request, std::move(responder));
                 });
    m_http.route(QStringLiteral("/api/session"), Method::Post,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     signIn(request, std::move(responder));
                 });
    m_http.route(QStringLiteral("/api/session"), Method::Delete,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     signOut(request, std::move(responder));
                 });
    m_http.setMissingHandler([this](const QHttpServerRequest &, QHttpServerResponder &&responder) {
        m_guard.handling(responder.socket());
        sendJson(std::move(responder), refusal(404, "not-found", QStringLiteral("there is nothing here")));
    });
}

void WebServer::servePage(QHttpServerResponder &&responder, const QString &file, const QByteArray &type)
{
    m_guard.handling(responder.socket());
    QFile resource(QStringLiteral(":/web/") + file);
    if (!resource.open(QIODevice::ReadOnly)) {
        sendJson(std::move(responder), refusal(500, "page", QStringLiteral("the page is missing from the program")));
        return;
    }
    send(std::move(responder), 200, type, resource.readAll());
}

void WebServer::api(remote::Request::Verb verb, const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    m_guard.handling(responder.socket());
    const Caller caller = identify(request);
    if (caller.access != Caller::Access::Granted) {
        deny(caller, std::move(responder));
        return;
    }
    if (verb != remote::Request::Verb::Status && !originAllowed(request, caller.byCookie)) {
        sendJson(std::move(responder), otherOrigin());
        return;
    }
    const std::variant<remote::Request, ApiAnswer> asked = panelRequest(verb, request.body());
    if (const ApiAnswer *refused = std::get_if<ApiAnswer>(&asked)) {
        sendJson(std::move(responder), *refused);
        return;
    }
    // The responder waits for the panel's answer; its connection may be gone by then.
    struct Waiting
    {
        QPointer<QTcpSocket> socket;
        QHttpServerResponder responder;
    };
    auto waiting = std::make_shared<Waiting>(Waiting{responder.socket(), std::move(responder)});
    auto *call = new PanelCall(m_setup.socketPath, std::get<remote::Request>(asked), kPanelTimeoutMs, this);
    connect(call, &PanelCall::answered, this, [this, call, waiting](const PanelAnswer &answer) {
        call->deleteLater();
        if (waiting->socket)
            sendJson(std::move(waiting->responder), apiAnswer(answer, m_setup.settingsFile));
    });
}

void WebServer::events(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    QTcpSocket *socket = responder.socket();
    m_guard.handling(socket);
    const Caller caller = identify(request);
    if (caller.access != Caller::Access::Granted) {
        deny(caller, std::move(responder));
        return;
    }
    const QString address = ConnectionGuard::addressOf(socket);
    const auto fromAddress = std::count_if(m_streams.begin(), m_streams.end(), [&address](const Stream &stream) {
        return stream.socket && ConnectionGuard::addressOf(stream.socket) == address;
    });
    if (m_streams.size() >= kMaxStreams || fromAddress >= kMaxStreamsPerAddress) {
        sendJson(std::move(responder), refusal(503, "busy", QStringLiteral("too many event streams; try again")),
                 {{"Retry-After", "5"}});
        return;
    }
    m_guard.streaming(socket);
    // Qt HttpServer 6.4 has no streaming answer: the head is written as it
    // stands, then the body an event at a time, until either end closes.
    responder.writeStatusLine(StatusCode::Ok);
    for (const auto &[name, value] : commonHeaders())
        responder.writeHeader(name, value);
    responder.writeHeader("Content-Type", "text/event-stream; charset=utf-8");
    responder.writeBody("retry: 1000\n\n" + eventOf(m_status));
    m_streams.push_back({socket, std::move(responder), caller});
    connect(socket, &QObject::destroyed, this, [this, socket] {
        m_streams.remove_if(
            [socket](const Stream &stream) { return stream.socket.isNull() || stream.socket == socket; });
    });
}

void WebServer::signIn(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    m_guard.handling(responder.socket());
    if (!originAllowed(request, false) || request.body().size() > kMaxBodyBytes) {
        sendJson(std::move(responder), originAllowed(request, false) ? bodyTooLarge() : otherOrigin());
        return;
    }
    const QString address = ConnectionGuard::addressOf(request.remoteAddress());
    Caller caller;
    if (!m_limiter.allowed(address, m_clock.elapsed(), &caller.retryAfterSeconds)) {
        caller.access = Caller::Access::Limited;
        deny(caller, std::move(responder));
        return;
    }
    const QJsonValue token = QJsonDocument::fromJson(request.body()).object().value(QStringLiteral("token"));
    if (!token.isString()) {
        sendJson(std::move(responder),
                 refusal(400, remote::code::kRequest, QStringLiteral("sign in with {\"token\": T}")));
        return;
    }
    const std::optional<TokenStore::Holder> holder = m_tokens.match(token.toString().toUtf8());
    if (!holder) {
        m_limiter.failed(address, m_clock.elapsed());
        caller.access = Caller::Access::Refused;
        deny(caller, std::move(responder));
        return;
    }
    const QByteArray id = m_sessions.open(*holder, m_clock.elapsed());
    sendJson(std::move(responder),
             {200, QJsonDocument(QJsonObject{{QStringLiteral("name"), holder->name}}).toJson(QJsonDocument::Compact)},
             {{"Set-Cookie", sessionCookie(id)}});
}

void WebServer::signOut(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    m_guard.handling(responder.socket());
    if (!originAllowed(request, true)) {
        sendJson(std::move(responder), otherOrigin());
        return;
    }
    m_sessions.close(cookieValue(request.value("cookie"), kCookieName));
    sendJson(std::move(responder), {200, "{\"ok\":true}"}, {{"Set-Cookie", sessionCookie({})}});
}

WebServer::Caller WebServer::identify(const QHttpServerRequest &request)
{
    Caller caller;
    const QByteArray authorization = request.value("authorization");
    caller.session = cookieValue(request.value("cookie"), kCookieName);
    if (authorization.isEmpty() && caller.session.isEmpty())
        return caller;
    const qint64 now = m_clock.elapsed();
    std::optional<TokenStore::Holder> holder;
    if (authorization.isEmpty()) {
        // A session's id is far beyond guessing, so a stale one (the server
        // restarted, the token revoked) is no failed sign-in.
        caller.byCookie = true;
        holder = m_sessions.find(caller.session, now);
        if (holder && !m_tokens.holds(*holder)) {
            m_sessions.close(caller.session);
            holder.reset();
        }
    } else {
        const QString address = ConnectionGuard::addressOf(request.remoteAddress());
        if (!m_limiter.allowed(address, now, &caller.retryAfterSeconds)) {
            caller.access = Caller::Access::Limited;
            return caller;
        }
        const QByteArray scheme = "Bearer ";
        if (authorization.startsWith(scheme))
            holder = m_tokens.match(authorization.sliced(scheme.size()).trimmed());
        if (!holder)
            m_limiter.failed(address, now);
    }
    caller.access = holder ? Caller::Access::Granted : Caller::Access::Refused;
    if (holder)
        caller.holder = *holder;
    return caller;
}

bool WebServer::stillGranted(const Caller &caller)
{
    if (caller.byCookie)
        return m_sessions.find(caller.session, m_clock.elapsed()).has_value() && m_tokens.holds(caller.holder);
    return m_tokens.holds(caller.holder);
}

bool WebServer::originAllowed(const QHttpServerRequest &request, bool required) const
{
    // Browsers send Origin with every call that changes something; scripts send none.
    const QByteArray origin = request.value("origin");
    if (origin.isEmpty())
        return !required;
    return sameOrigin(origin, request.value("host"), m_setup.tls.has_value());
}

void WebServer::deny(const Caller &caller, QHttpServerResponder &&responder)
{
    switch (caller.access) {
    case Caller::Access::Limited:
        sendJson(std::move(responder),
                 refusal(429, "too-many",
                         QStringLiteral("too many failed sign-ins from this address; try again in %1 s")
                             .arg(caller.retryAfterSeconds)),
                 {{"Retry-After", QByteArray::number(caller.retryAfterSeconds)}});
        return;
    case Caller::Access::Missing:
        sendJson(std::move(responder),
                 refusal(401, "token", QStringLiteral("this call needs Authorization: Bearer TOKEN, or to sign in")),
                 {{"WWW-Authenticate", "Bearer realm=\"QUELTOR\""}});
        return;
    case Caller::Access::Refused:
    case Caller::Access::Granted:
        break;
    }
    QList<Header> headers{{"WWW-Authenticate", "Bearer realm=\"QUELTOR\", error=\"invalid_token\""}};
    if (caller.byCookie)
        headers.append({"Set-Cookie", sessionCookie({})}); // the stale one goes
    sendJson(std::move(responder),
             refusal(401, "token",
                     caller.byCookie ? QStringLiteral("the session has ended; sign in again")
                                     : QStringLiteral("the token is not valid")),
             headers);
}

QByteArray WebServer::sessionCookie(const QByteArray &id) const
{
    QNetworkCookie cookie(kCookieName, id);
    cookie.setPath(QStringLiteral("/"));
    cookie.setHttpOnly(true);
    cookie.setSameSitePolicy(QNetworkCookie::SameSite::Strict);
    cookie.setSecure(m_setup.tls.has_value());
    // No expiry: it goes when the browser closes, or the server forgets the session. An empty one is ended now.
    if (id.isEmpty())
        cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(0));
    return cookie.toRawForm(QNetworkCookie::Full);
}

void WebServer::send(QHttpServerResponder &&responder, int status, const QByteArray &type, const QByteArray &body,
                     const QList<Header> &headers)
{
    QTcpSocket *socket = responder.socket();
    QHttpServerResponse response(type, body, StatusCode(status));
    for (const auto &[name, value] : commonHeaders())
        response.addHeader(name, value);
    for (const auto &[name, value] : headers)
        response.addHeader(name, value);
    response.write(std::move(responder));
    m_guard.answered(socket);
}

void WebServer::sendJson(QHttpServerResponder &&responder, const ApiAnswer &answer, const QList<Header> &headers)
{
    send(std::move(responder), answer.status, kJson, answer.body, headers);
}

void WebServer::watchPanel()
{
    m_watch = new PanelCall(m_setup.socketPath,
                            remote::Request{remote::Request::Verb::Watch, 0, 0, 0, {}, std::nullopt}, kPanelTimeoutMs,
                            this);
    connect(m_watch, &PanelCall::answered, this, [this](const PanelAnswer &answer) {
        if (answer.outcome == PanelAnswer::Outcome::Answered && answer.reply.ok()) {
            statusTold(answer.reply.data);
            return;
        }
        // No panel, a panel that ended or had no room for one more watcher: ask again shortly.
        m_watch->deleteLater();
        m_watch = nullptr;
        statusTold(remote::noPanelJson());
        m_rewatch.start(kRewatchMs);
    });
}

void WebServer::statusTold(const QByteArray &status)
{
    if (status == m_status)
        return;
    m_status = status;
    if (m_push.isActive()) {
        m_pushPending = true;
        return;
    }
    pushStatus();
    m_push.start(kPushIntervalMs);
}

void WebServer::pushStatus() { writeToStreams(eventOf(m_status)); }

void WebServer::keepStreamsAlive()
{
    // A revoked token or an ended session ends its streams too.
    for (Stream &stream : m_streams) {
        if (stream.socket && !stillGranted(stream.caller))
            stream.socket->disconnectFromHost();
    }
    writeToStreams(": still here\n\n");
}

void WebServer::writeToStreams(const QByteArray &frame)
{
    QList<QPointer<QTcpSocket>> stalled;
    for (Stream &stream : m_streams) {
        if (!stream.socket || stream.socket->state() != QAbstractSocket::ConnectedState)
            continue;
        if (stream.socket->bytesToWrite() > kMaxStreamBacklog)
            stalled << stream.socket;
        else
            stream.responder.writeBody(frame);
    }
    // Cut off after the loop: ending a connection takes its stream off the list.
    for (const QPointer<QTcpSocket> &socket : stalled) {
        if (socket)
            socket->abort();
    }
}

} // namespace queltor::web
