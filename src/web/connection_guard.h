#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QHostAddress;
class QTcpSocket;

namespace queltor::web {

// What Qt HttpServer 6.4 leaves to its user, around it: it reads a request of
// any size into memory, waits for it as long as the client likes and takes
// any number of connections. The guard watches every connection before the
// HTTP server reads from it:
//   - at most kMaxConnections at once, kMaxPerAddress from one address;
//   - a request must come whole within kRequestMs of its first byte (else 408
//     and the connection ends), and a connection waiting for its next request
//     ends after kIdleMs;
//   - a request that grows beyond kMaxRequestBytes, headers and body, is
//     answered 413 and its connection ends.
// The server tells the guard when a request reaches a handler, when its
// answer is written and when a connection carries an event stream instead.
class ConnectionGuard : public QObject
{
public:
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPerAddress = 16;
    static constexpr qsizetype kMaxRequestBytes = 64 * 1024;
    static constexpr int kRequestMs = 10000;
    static constexpr int kIdleMs = 30000;

    using QObject::QObject;
    ~ConnectionGuard() override;

    // The address a client is counted under; an IPv4 client on an IPv6 socket as IPv4.
    static QString addressOf(const QHostAddress &peer);
    static QString addressOf(const QTcpSocket *socket);

    // Takes socket under watch; false, with the socket closed, when there is no room for it.
    bool admit(QTcpSocket *socket);
    void handling(QTcpSocket *socket);
    void answered(QTcpSocket *socket);
    // The connection carries an event stream: no time limit, and a client
    // that sends anything more ends it.
    void streaming(QTcpSocket *socket);

    int count() const { return m_count; }

private:
    class Watch;
    void release(const QTcpSocket *socket, const QString &address);

    int m_count = 0;
    QHash<QString, int> m_perAddress;
    QHash<const QTcpSocket *, Watch *> m_watches;
};

} // namespace queltor::web
