#pragma once

#include "remote/panel_socket.h"
#include "remote/protocol.h"
#include "web/api.h"
#include "web/connection_guard.h"
#include "web/sessions.h"
#include "web/sign_in_limiter.h"
#include "web/token_store.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponder>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <list>
#include <optional>

class QTcpSocket;

namespace queltor {
class PanelCall;
}

namespace queltor::web {

// queltor-web's server: the page, the JSON API and its event stream, for the
// one panel of a settings file, reached through that panel's socket only.
//
//   GET    /                the page (and /queltor.js, /queltor.css, /queltor.png)
//   POST   /api/session     {"token": T}: signs in, a session cookie
//   DELETE /api/session     signs out
//   GET    /api/status      the panel's status, as queltor-ctl status prints it
//   POST   /api/select      {"channel": N}
//   POST   /api/scan        {"start": S, "end": E, "term": T}
//   POST   /api/stop
//   GET    /api/events      Server-Sent Events: the status now and at each change
//
// Every /api/ call but the session's needs "Authorization: Bearer TOKEN" or
// the session cookie: else 401, and nothing reaches the panel. Wrong tokens
// count against the client's address (SignInLimiter: 429). A call that
// changes something and comes from a browser must come from the page's own
// origin (403). Bodies are limited (413), the panel's refusals are 409, no
// panel answering is 503.
class WebServer : public QObject
{
public:
    static constexpr int kMaxStreams = 32;
    static constexpr int kMaxStreamsPerAddress = 8;
    // A stream whose client lets this much wait is cut off; its browser comes back by itself.
    static constexpr qint64 kMaxStreamBacklog = 64 * 1024;
    // Browsers get at most this many pushes a second; the last status always goes.
    static constexpr int kPushIntervalMs = 100;
    static constexpr int kKeepAliveMs = 15000;
    static constexpr int kRewatchMs = 1000;

    struct Setup
    {
        QString settingsFile;
        QString socketPath;
        QString tokenFile;
        std::optional<QSslConfiguration> tls;
    };

    explicit WebServer(Setup setup, QObject *parent = nullptr);
    ~WebServer() override;

    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Listens on address and port (0: any free one); false, with why, when it cannot.
    bool listen(const QHostAddress &address, quint16 port, QString *why);
    quint16 port() const;

private:
    // Who is calling, by bearer token or session cookie.
    struct Caller
    {
        enum class Access { Granted, Missing, Refused, Limited };
        Access access = Access::Missing;
        bool byCookie = false;
        QByteArray session;
        TokenStore::Holder holder;
        int retryAfterSeconds = 0;
    };
    struct Stream
    {
        QPointer<QTcpSocket> socket;
        QHttpServerResponder responder;
        Caller caller;
    };
    using Header = std::pair<QByteArray, QByteArray>;

    void addRoutes();
    void servePage(QHttpServerResponder &&responder, const QString &file, const QByteArray &type);
    void api(remote::Request::Verb verb, const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void events(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void signIn(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void signOut(const QHttpServerRequest &request, QHttpServerResponder &&responder);

    Caller identify(const QHttpServerRequest &request);
    bool stillGranted(const Caller &caller);
    bool originAllowed(const QHttpServerRequest &request, bool required) const;
    void deny(const Caller &caller, QHttpServerResponder &&responder);
    QByteArray sessionCookie(const QByteArray &id) const;

    void send(QHttpServerResponder &&responder, int status, const QByteArray &type, const QByteArray &body,
              const QList<Header> &headers = {});
    void sendJson(QHttpServerResponder &&responder, const ApiAnswer &answer, const QList<Header> &headers = {});

    void watchPanel();
    void statusTold(const QByteArray &status);
    void pushStatus();
    void keepStreamsAlive();
    void writeToStreams(const QByteArray &frame);

    Setup m_setup;
    TokenStore m_tokens;
    SessionStore m_sessions;
    SignInLimiter m_limiter;
    QElapsedTimer m_clock;
    // In this order: the server's sockets go first, and as they go they leave the guard and the streams.
    std::list<Stream> m_streams;
    ConnectionGuard m_guard;
    QHttpServer m_http;
    QByteArray m_status;
    bool m_pushPending = false;
    QTimer m_push;
    QTimer m_keepAlive;
    QTimer m_rewatch;
    PanelCall *m_watch = nullptr;
};

} // namespace queltor::web
