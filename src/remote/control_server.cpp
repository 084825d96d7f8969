#include "remote/control_server.h"

#include "remote/panel_socket.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <exception>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace queltor {

namespace {

using remote::Reply;
namespace code = remote::code;

// Another panel holds the lock only while it starts.
constexpr int kLockWaitMs = 5000;
// How long a panel that is there has to answer a second start.
constexpr int kAskMs = 3000;

// One connection's request as far as it has come.
class Pending : public QObject
{
public:
    using QObject::QObject;
    QByteArray line;
    bool answered = false;
    QTimer deadline;
};

bool fromOwner(const QLocalSocket *socket)
{
#ifdef Q_OS_LINUX
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0
        && peer.uid == ::geteuid();
#else
    Q_UNUSED(socket);
    return true; // the socket's mode keeps other users out
#endif
}

void finish(QLocalSocket *socket, Pending *pending, const Reply &reply)
{
    if (pending->answered)
        return;
    pending->answered = true;
    socket->write(remote::replyLine(reply));
    // Closes once the reply is with the system; a peer that never lets it go is cut off at the deadline.
    socket->disconnectFromServer();
    if (socket->state() != QLocalSocket::UnconnectedState)
        pending->deadline.start();
}

} // namespace

ControlServer::ControlServer(QObject *parent)
    : QObject(parent)
{
    // Made in a private folder and given the mode before it gets its name.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] { accept(); });
}

ControlServer::~ControlServer()
{
    // No request may reach a handler whose window is going.
    m_handler = nullptr;
    const QList<QLocalSocket *> sockets = m_server.findChildren<QLocalSocket *>(Qt::FindDirectChildrenOnly);
    for (QLocalSocket *socket : sockets) {
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        delete socket;
    }
    m_server.close();
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

    QLockFile lock(socketPath + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        return unavailable(
            QCoreApplication::translate("queltor::ControlServer", "another panel kept its lock file %1.lock")
                .arg(socketPath));

    const PanelAnswer asked = askPanel(socketPath, remote::requestLine({remote::Request::Verb::Raise, 0, 0, 0, {}}),
                                       kAskMs);
    switch (asked.outcome) {
    case PanelAnswer::Outcome::Answered:
        return Outcome::Raised;
    case PanelAnswer::Outcome::Silent:
        return Outcome::Unanswered;
    case PanelAnswer::Outcome::Failed:
        return unavailable(asked.why);
    case PanelAnswer::Outcome::NoPanel:
        break;
    }

    // Nobody listens: whatever is there was left by a panel that was killed.
    QLocalServer::removeServer(socketPath);
    if (!m_server.listen(socketPath))
        return unavailable(m_server.errorString());
#ifdef Q_OS_LINUX
    ::chmod(QFile::encodeName(socketPath).constData(), S_IRUSR | S_IWUSR);
#endif
    return Outcome::Serving;
}

void ControlServer::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        if (!fromOwner(socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        take(socket);
    }
}

void ControlServer::take(QLocalSocket *socket)
{
    ++m_clients;
    connect(socket, &QObject::destroyed, this, [this] { --m_clients; });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // Qt takes no more from the system than a request may hold.
    socket->setReadBufferSize(remote::kMaxRequestBytes);

    auto *pending = new Pending(socket);
    pending->deadline.setSingleShot(true);
    // The first expiry ends the wait for the request, the second the wait for the close.
    connect(&pending->deadline, &QTimer::timeout, socket, [pending, socket] {
        if (pending->answered) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        finish(socket, pending, Reply::failed(code::kTimeout, QStringLiteral("no whole request line came in time")));
    });
    pending->deadline.start(m_timeoutMs);

    if (m_clients > kMaxClients) {
        finish(socket, pending, Reply::failed(code::kBusy, QStringLiteral("too many clients at once; try again")));
        return;
    }
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, pending] {
        if (pending->answered) {
            socket->skip(socket->bytesAvailable());
            return;
        }
        pending->line += socket->read(remote::kMaxRequestBytes - pending->line.size());
        const qsizetype end = pending->line.indexOf('\n');
        if (end >= 0)
            finish(socket, pending, answer(pending->line.first(end)));
        else if (pending->line.size() >= remote::kMaxRequestBytes)
            finish(socket, pending,
                   Reply::failed(code::kRequest, QStringLiteral("the request is longer than 256 bytes")));
    });
}

Reply ControlServer::answer(const QByteArray &line)
{
    QString why;
    const std::optional<remote::Request> request = remote::parseRequest(line, &why);
    Reply reply;
    if (!request) {
        reply = Reply::failed(code::kRequest, why);
    } else if (!m_handler) {
        reply = Reply::failed(code::kBusy, QStringLiteral("the panel is starting; try again"));
    } else {
        // The event loop must never see an exception.
        try {
            reply = m_handler(*request);
        } catch (const std::exception &e) {
            reply = Reply::failed(code::kPanel, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            reply = Reply::failed(code::kPanel, QStringLiteral("an unexpected failure"));
        }
    }
    return reply;
}

} // namespace queltor
