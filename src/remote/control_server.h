#pragma once

#include "remote/local_socket.h"
#include "remote/protocol.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace queltor {

// The panel's end of its socket. Every connection carries one request line and
// gets one reply line, then it is closed. A request is acted on only while its
// client is connected and, where it has one, before its deadline (see
// protocol.h). All of it runs on the window's
// thread without ever waiting: bytes are taken as they come, at most
// kMaxRequestBytes of them; a connection that has not sent its whole line
// within the request timeout is answered "timeout" and closed; beyond
// kMaxClients at once a new one is answered "busy"; a peer that is not the
// user running the panel is cut off unanswered.
//
// A watch turns its connection into a watcher: it gets the status at once and
// then once more each time it differs from the last one sent. A watcher leaves
// the kMaxClients count, so watchers never crowd out requests; they have their
// own kMaxWatchers, beyond which a watch is answered "busy". One that does not
// read is dropped once kMaxWatcherBacklog bytes wait for it, and one that
// closes its end is dropped at once.
class ControlServer : public QObject
{
public:
    enum class Outcome {
        Serving,     // this panel now listens on the socket
        Raised,      // another panel listens there and came forward
        Unanswered,  // another panel listens there but did not answer
        Unavailable, // there is no socket to be had; why says why
    };
    using Handler = std::function<remote::Reply(const remote::Request &)>;

    static constexpr int kMaxClients = 16;
    static constexpr int kMaxWatchers = 8;
    static constexpr qsizetype kMaxWatcherBacklog = 16 * 1024;
    static constexpr int kRequestTimeoutMs = 2000;

    explicit ControlServer(QObject *parent = nullptr);
    ~ControlServer() override;

    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Under a lock beside the socket, so two panels starting at once settle it
    // between them: a panel already listening at socketPath is asked to come
    // forward; otherwise the socket is taken, replacing one a killed panel left.
    Outcome start(const QString &socketPath, QString *why = nullptr);

    // Until one is set every request is answered "busy".
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void setRequestTimeout(int ms) { m_timeoutMs = ms; }

    // Something the status reports may have changed: the watchers hear of it
    // once the event loop is back, if the status differs from the last they got.
    void statusChanged();

    // Empty until it serves.
    QString socketPath() const { return m_path; }
    int clientCount() const { return m_clients; }
    int watcherCount() const { return int(m_watchers.size()); }

private:
    class Client;

    void accept();
    void take(UniqueFd fd);
    void read(Client *client);
    void finish(Client *client, const remote::Reply &reply);
    void watch(Client *client);
    void publish();
    void send(Client *client);
    void drop(Client *client);
    void act(Client *client, const QByteArray &line);
    remote::Reply handled(const remote::Request &request);

    QString m_path;
    UniqueFd m_listener;
    std::unique_ptr<QSocketNotifier> m_incoming; // goes before the listener closes
    Handler m_handler;
    int m_timeoutMs = kRequestTimeoutMs;
    int m_clients = 0;
    QList<Client *> m_watchers;
    QByteArray m_lastStatus;           // what the watchers were told last
    std::unique_ptr<QTimer> m_publish; // not a child: the children are the clients
};

} // namespace queltor
