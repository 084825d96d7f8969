#include "web/connection_guard.h"

#include "web/api.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace queltor::web {

namespace {

// An answer the HTTP server never saw the request for, written as it stands before the connection ends.
QByteArray closingAnswer(const char *reason, const ApiAnswer &answer)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reason + "\r\n";
    for (const auto &[name, value] : commonHeaders())
        head += name + ": " + value + "\r\n";
    return head + "Content-Type: application/json\r\nConnection: close\r\nContent-Length: "
        + QByteArray::number(answer.body.size()) + "\r\n\r\n" + answer.body;
}

} // namespace

// One connection's state, a child of its socket.
class ConnectionGuard::Watch : public QObject
{
public:
    enum class State { Waiting, Reading, Handling, Streaming };

    Watch(ConnectionGuard *guard, QTcpSocket *socket, QString address)
        : QObject(socket)
        , m_guard(guard)
        , m_socket(socket)
        , m_address(std::move(address))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { expire(); });
        // Before the HTTP server's own: it connects once admit() has returned.
        connect(socket, &QTcpSocket::readyRead, this, [this] { arrived(); });
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        m_deadline.start(kRequestMs);
    }
    ~Watch() override
    {
        if (m_guard)
            m_guard->release(m_socket, m_address);
    }
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    void handling()
    {
        m_state = State::Handling;
        m_unanswered = 0;
        m_deadline.stop();
    }
    void answered()
    {
        if (m_state == State::Streaming)
            return;
        m_state = m_unanswered > 0 ? State::Reading : State::Waiting;
        m_deadline.start(m_state == State::Reading ? kRequestMs : kIdleMs);
    }
    void streaming()
    {
        m_state = State::Streaming;
        m_deadline.stop();
    }

private:
    // Counted before the HTTP server reads: what is available now came since it last read.
    void arrived()
    {
        const qint64 fresh = m_socket->bytesAvailable();
        if (fresh <= 0)
            return;
        if (m_state == State::Streaming) {
            end({});
            return;
        }
        if (m_state == State::Waiting) {
            m_state = State::Reading;
            m_deadline.start(kRequestMs);
        }
        m_unanswered += fresh;
        if (m_unanswered > kMaxRequestBytes)
            end(closingAnswer(
                "Payload Too Large",
                refusal(413, "too-large",
                        QStringLiteral("the request is larger than %1 KB").arg(kMaxRequestBytes / 1024))));
    }

    void expire()
    {
        if (m_state == State::Reading)
            end(closingAnswer(
                "Request Timeout",
                refusal(408, "timeout",
                        QStringLiteral("no whole request came within %1 seconds").arg(kRequestMs / 1000))));
        else if (m_state == State::Waiting)
            end({});
    }

    // The HTTP server reads nothing more; the answer, if any, goes before the connection ends.
    void end(const QByteArray &answer)
    {
        m_deadline.stop();
        QObject::disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
        if (!answer.isEmpty())
            m_socket->write(answer);
        m_socket->disconnectFromHost();
    }

    QPointer<ConnectionGuard> m_guard;
    QTcpSocket *m_socket;
    QString m_address;
    State m_state = State::Waiting;
    qint64 m_unanswered = 0;
    QTimer m_deadline;
};

ConnectionGuard::~ConnectionGuard() = default;

QString ConnectionGuard::addressOf(const QTcpSocket *socket) { return addressOf(socket->peerAddress()); }

QString ConnectionGuard::addressOf(const QHostAddress &peer)
{
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4).toString() : peer.toString();
}

bool ConnectionGuard::admit(QTcpSocket *socket)
{
    const QString address = addressOf(socket);
    if (m_count >= kMaxConnections || m_perAddress.value(address) >= kMaxPerAddress) {
        socket->abort();
        socket->deleteLater();
        return false;
    }
    ++m_count;
    ++m_perAddress[address];
    m_watches.insert(socket, new Watch(this, socket, address));
    return true;
}

void ConnectionGuard::release(const QTcpSocket *socket, const QString &address)
{
    m_watches.remove(socket);
    --m_count;
    if (--m_perAddress[address] <= 0)
        m_perAddress.remove(address);
}

void ConnectionGuard::handling(QTcpSocket *socket)
{
    if (Watch *watch = m_watches.value(socket))
        watch->handling();
}

void ConnectionGuard::answered(QTcpSocket *socket)
{
    if (Watch *watch = m_watches.value(socket))
        watch->answered();
}

void ConnectionGuard::streaming(QTcpSocket *socket)
{
    if (Watch *watch = m_watches.value(socket))
        watch->streaming();
}

} // namespace queltor::web
