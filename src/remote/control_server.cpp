#include "remote/control_server.h"

#include "remote/panel_socket.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <exception>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace queltor {

namespace {

using remote::Reply;
namespace code = remote::code;

// Another panel holds the lock only while it starts.
constexpr int kLockWaitMs = 5000;
// How long a panel that is there has to answer a second start.
constexpr int kAskMs = 3000;
// Out of descriptors, the listener rests this long rather than wake the loop at once again.
constexpr int kAcceptPauseMs = 100;

bool fromOwner(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

// Whether the client has closed its end: nobody waits for the request to be done.
bool hungUp(int fd)
{
    pollfd state{fd, 0, 0};
    return ::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR)) != 0;
}

// "taken", whole, to a client still reading; false when it no longer is.
bool sendTaken(int fd)
{
    const QByteArray line = remote::kTaken + '\n';
    ssize_t n = 0;
    do
        n = ::send(fd, line.constData(), std::size_t(line.size()), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == line.size();
}

} // namespace

// One connection: its request as far as it has come, then its reply as far as it has gone.
class ControlServer::Client : public QObject
{
public:
    Client(UniqueFd socket, QObject *parent)
        : QObject(parent)
        , fd(std::move(socket))
    {
        writable.setEnabled(false);
        deadline.setSingleShot(true);
    }

    UniqueFd fd; // first in, last out: the notifiers go before it closes
    QSocketNotifier readable{fd.get(), QSocketNotifier::Read};
    QSocketNotifier writable{fd.get(), QSocketNotifier::Write};
    QTimer deadline;
    QByteArray line;
    QByteArray reply;
    bool answered = false;
    bool watching = false;
};

ControlServer::ControlServer(QObject *parent)
    : QObject(parent)
    , m_publish(std::make_unique<QTimer>())
{
    // Every change a handler makes is told once, when it is done.
    m_publish->setSingleShot(true);
    m_publish->setInterval(0);
    connect(m_publish.get(), &QTimer::timeout, this, [this] { publish(); });
}

ControlServer::~ControlServer()
{
    // No request may reach a handler whose window is going.
    m_handler = nullptr;
    qDeleteAll(findChildren<Client *>(Qt::FindDirectChildrenOnly));
    // As the panel goes, so does its socket file.
    if (m_listener.isValid())
        ::unlink(QFile::encodeName(m_path).constData());
}

ControlServer::Outcome ControlServer::start(const QString &socketPath, QString *why)
{
    const auto unavailable = [why](const QString &text) {
        if (why)
            *why = text;
        return Outcome::Unavailable;
    };
    if (socketPath.isEmpty())
        return unavailable(QCoreApplication::translate("queltor::ControlServer",
                                                       "there is no runtime folder for it (XDG_RUNTIME_DIR)"));
    QString tooLong;
    const std::optional<sockaddr_un> address = socketAddress(socketPath, &tooLong);
    if (!address)
        return unavailable(tooLong);

    QLockFile lock(socketPath + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        return unavailable(
            QCoreApplication::translate("queltor::ControlServer", "another panel kept its lock file %1.lock")
                .arg(socketPath));

    const PanelAnswer asked = askPanel(socketPath,
                                       remote::requestLine({remote::Request::Verb::Raise, 0, 0, 0, {}, std::nullopt}),
                                       kAskMs);
    switch (asked.outcome) {
    case PanelAnswer::Outcome::Answered:
        return Outcome::Raised;
    case PanelAnswer::Outcome::Silent:
    case PanelAnswer::Outcome::Unknown:
        return Outcome::Unanswered;
    case PanelAnswer::Outcome::Failed:
        return unavailable(asked.why);
    case PanelAnswer::Outcome::NoPanel:
        break;
    }

    // Nobody listens: whatever is there was left by a panel that was killed.
    const QByteArray file = QFile::encodeName(socketPath);
    ::unlink(file.constData());
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.isValid()
        || ::bind(listener.get(), reinterpret_cast<const sockaddr *>(&*address), sizeof *address) != 0)
        return unavailable(qt_error_string());
    // Nobody can connect before listen(), so the mode is set in between.
    if (::chmod(file.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(listener.get(), SOMAXCONN) != 0) {
        const QString error = qt_error_string();
        ::unlink(file.constData());
        return unavailable(error);
    }
    m_path = socketPath;
    m_listener = std::move(listener);
    m_incoming = std::make_unique<QSocketNotifier>(m_listener.get(), QSocketNotifier::Read);
    connect(m_incoming.get(), &QSocketNotifier::activated, this, [this] { accept(); });
    return Outcome::Serving;
}

void ControlServer::accept()
{
    for (;;) {
        UniqueFd fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.isValid()) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // The connection stays in the backlog until there is room for it.
                m_incoming->setEnabled(false);
                QTimer::singleShot(kAcceptPauseMs, this, [this] { m_incoming->setEnabled(true); });
            }
            return;
        }
        // A peer that is not the user running the panel is cut off unanswered.
        if (fromOwner(fd.get()))
            take(std::move(fd));
    }
}

void ControlServer::take(UniqueFd fd)
{
    auto *client = new Client(std::move(fd), this);
    ++m_clients;
    // The first expiry ends the wait for the request, the second the wait for the reply to go.
    connect(&client->deadline, &QTimer::timeout, this, [this, client] {
        if (client->answered)
            drop(client);
        else
            finish(client, Reply::failed(code::kTimeout, QStringLiteral("no whole request line came in time")));
    });
    connect(&client->writable, &QSocketNotifier::activated, this, [this, client] { send(client); });
    client->deadline.start(m_timeoutMs);

    if (m_clients > kMaxClients) {
        finish(client, Reply::failed(code::kBusy, QStringLiteral("too many clients at once; try again")));
        return;
    }
    connect(&client->readable, &QSocketNotifier::activated, this, [this, client] { read(client); });
}

void ControlServer::read(Client *client)
{
    if (client->watching) {
        // A watcher has nothing more to say: what it sends is passed over, and its end closing ends it.
        char bytes[256];
        const ssize_t n = ::recv(client->fd.get(), bytes, sizeof bytes, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            drop(client);
        return;
    }
    if (client->answered)
        return;
    // No more is taken from the system than a request may hold.
    char bytes[remote::kMaxRequestBytes];
    ssize_t n = 0;
    do
        n = ::recv(client->fd.get(), bytes, std::size_t(remote::kMaxRequestBytes - client->line.size()), 0);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        drop(client); // gone, or done sending before a whole line
        return;
    }
    client->line.append(bytes, n);
    const qsizetype end = client->line.indexOf('\n');
    if (end >= 0)
        act(client, client->line.first(end));
    else if (client->line.size() >= remote::kMaxRequestBytes)
        finish(client, Reply::failed(code::kRequest, QStringLiteral("the request is longer than 256 bytes")));
}

void ControlServer::finish(Client *client, const Reply &reply)
{
    client->answered = true;
    // One request a connection: what follows its line is not read.
    client->readable.setEnabled(false);
    client->reply = remote::replyLine(reply);
    client->deadline.start(m_timeoutMs);
    send(client);
}

void ControlServer::watch(Client *client)
{
    if (m_watchers.size() >= kMaxWatchers) {
        finish(client, Reply::failed(code::kBusy, QStringLiteral("too many watchers at once; try again")));
        return;
    }
    // A change not yet told goes to those watching first, so that the last status sent is theirs too.
    publish();
    client->answered = true;
    client->watching = true;
    client->deadline.stop();
    client->line.clear();
    --m_clients;
    m_watchers << client;
    client->reply = remote::replyLine(Reply::done(m_lastStatus));
    send(client);
}

void ControlServer::statusChanged()
{
    if (!m_watchers.isEmpty() && !m_publish->isActive())
        m_publish->start();
}

void ControlServer::publish()
{
    m_publish->stop();
    const Reply status = handled(remote::Request{remote::Request::Verb::Status, 0, 0, 0, {}, std::nullopt});
    if (!status.ok() || status.data == m_lastStatus)
        return;
    m_lastStatus = status.data;
    const QByteArray line = remote::replyLine(status);
    // A copy: a watcher that has gone leaves the list as it is sent to.
    const QList<Client *> watchers = m_watchers;
    for (Client *client : watchers) {
        client->reply += line;
        send(client);
    }
}

void ControlServer::send(Client *client)
{
    while (!client->reply.isEmpty()) {
        const ssize_t n = ::send(client->fd.get(), client->reply.constData(), std::size_t(client->reply.size()),
                                 MSG_NOSIGNAL);
        if (n >= 0) {
            client->reply.remove(0, n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            break; // the client has gone
        // The rest goes as the client takes it. A client that never takes its
        // reply is cut off at the deadline; a watcher, once too much waits for it.
        if (client->watching && client->reply.size() > kMaxWatcherBacklog)
            break;
        client->writable.setEnabled(true);
        return;
    }
    if (client->watching && client->reply.isEmpty()) {
        client->writable.setEnabled(false);
        return;
    }
    drop(client);
}

void ControlServer::drop(Client *client)
{
    if (!client->fd.isValid())
        return;
    client->readable.setEnabled(false);
    client->writable.setEnabled(false);
    client->deadline.stop();
    client->fd.reset();
    if (client->watching)
        m_watchers.removeOne(client);
    else
        --m_clients;
    client->deleteLater();
}

void ControlServer::act(Client *client, const QByteArray &line)
{
    QString why;
    const std::optional<remote::Request> request = remote::parseRequest(line, &why);
    if (!request) {
        finish(client, Reply::failed(code::kRequest, why));
        return;
    }
    if (!m_handler) {
        finish(client, Reply::failed(code::kBusy, QStringLiteral("the panel is starting; try again")));
        return;
    }
    // Done only for a client still waiting, and only before its deadline: a
    // request that comes too late is not done, whatever its client made of the wait.
    if (request->deadlineMs && remote::monotonicMs() >= *request->deadlineMs) {
        finish(client,
               Reply::failed(code::kTimeout,
                             QStringLiteral("the request's deadline passed before the panel "
                                            "could act on it; nothing was done")));
        return;
    }
    if (hungUp(client->fd.get()) || (request->deadlineMs && !sendTaken(client->fd.get()))) {
        drop(client);
        return;
    }
    client->deadline.stop(); // the request is whole: no "timeout" may cut in while it is done
    if (request->verb == remote::Request::Verb::Watch)
        watch(client);
    else
        finish(client, handled(*request));
}

Reply ControlServer::handled(const remote::Request &request)
{
    // The event loop must never see an exception.
    try {
        return m_handler(request);
    } catch (const std::exception &e) {
        return Reply::failed(code::kPanel, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return Reply::failed(code::kPanel, QStringLiteral("an unexpected failure"));
    }
}

} // namespace queltor
