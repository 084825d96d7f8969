#include "remote/panel_socket.h"

#include "remote/local_socket.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace queltor {

namespace {

// How much longer than its deadline a request is waited for: a panel that
// starts on it at the last moment has this long to say so.
constexpr int kGraceMs = 500;

// The path with its deepest existing folder resolved, so that a config home
// reached through a link names the same panel as the real one.
QString resolved(const QString &file)
{
    QString existing = QFileInfo(file).absoluteFilePath();
    QString rest;
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath()) {
        const QFileInfo info(existing);
        rest = QLatin1Char('/') + info.fileName() + rest;
        existing = info.absolutePath();
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return QDir::cleanPath((canonical.isEmpty() ? existing : canonical) + rest);
}

// $XDG_RUNTIME_DIR as Qt checks it (the user's own, mode 0700). Where it is
// not set, as under cron, the folder the login manager made for the user's
// session, so that a job finds the panel of the user's desktop.
QString runtimeFolder()
{
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray session = "/run/user/" + QByteArray::number(::geteuid());
        struct stat status
        { };
        if (::stat(session.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid()
            && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0)
            return QFile::decodeName(session);
    }
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

// Until fd is ready for events; false once the deadline has passed.
bool await(int fd, short events, const QDeadlineTimer &deadline)
{
    pollfd entry{fd, events, 0};
    int n = 0;
    do
        n = ::poll(&entry, 1, int(deadline.remainingTime()));
    while (n < 0 && errno == EINTR);
    return n > 0;
}

QString noReplyText() { return QStringLiteral("the panel closed the connection without a reply"); }

QString strangeReplyText() { return QStringLiteral("the panel's reply is not one of the protocol"); }

} // namespace

QString panelSocketPath(const QString &settingsFile)
{
    const QString runtime = runtimeFolder();
    if (runtime.isEmpty())
        return {};
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(resolved(settingsFile)),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(16);
    return runtime + QStringLiteral("/queltor-") + QString::fromLatin1(hash) + QStringLiteral(".socket");
}

remote::Reply PanelAnswer::result(int timeoutMs, const QString &settingsFile) const
{
    switch (outcome) {
    case Outcome::Answered:
        return reply;
    case Outcome::Silent:
        return remote::Reply::failed("timeout",
                                     QStringLiteral(
                                         "the panel did not take the request within %1 seconds; nothing was done")
                                         .arg(QString::number(timeoutMs / 1000.0)));
    case Outcome::Unknown:
        return remote::Reply::failed("unknown",
                                     QStringLiteral("the panel started on the request but did not say how it "
                                                    "ended; whether it was done is not known"));
    case Outcome::Failed:
        return remote::Reply::failed("socket", QStringLiteral("the panel's socket cannot be used: %1").arg(why));
    case Outcome::NoPanel:
        break;
    }
    return remote::Reply::failed("no-panel", QStringLiteral("no QUELTOR panel is running for %1").arg(settingsFile));
}

PanelExchange::PanelExchange(const QByteArray &requestLine, int timeoutMs)
    : m_line((requestLine.endsWith('\n') ? requestLine.chopped(1) : requestLine)
             + " deadline=" + QByteArray::number(remote::monotonicMs() + timeoutMs) + '\n')
    // The panel acts only before the deadline; a little longer here lets one
    // that starts at the last moment say so.
    , m_wait(timeoutMs + kGraceMs)
{
}

QList<PanelAnswer> PanelExchange::take(QByteArrayView bytes)
{
    using Outcome = PanelAnswer::Outcome;
    m_received.append(bytes);
    const QByteArray takenLine = remote::kTaken + '\n';
    if (!m_taken && !m_replied && m_received.startsWith(takenLine)) {
        m_taken = true;
        m_received.remove(0, takenLine.size());
        m_wait = QDeadlineTimer(PanelAnswer::kActMs);
    }
    QList<PanelAnswer> answers;
    for (qsizetype end = m_received.indexOf('\n'); end >= 0; end = m_received.indexOf('\n')) {
        const std::optional<remote::Reply> reply = remote::parseReply(m_received.first(end));
        if (!reply)
            return answers << unsure(strangeReplyText());
        m_received.remove(0, end + 1);
        m_replied = true;
        m_wait = QDeadlineTimer(QDeadlineTimer::Forever);
        answers << PanelAnswer{Outcome::Answered, *reply, {}};
    }
    if (m_received.size() > remote::kMaxReplyBytes)
        answers << unsure(strangeReplyText());
    return answers;
}

PanelAnswer PanelExchange::ended(const QString &why) const
{
    if (!why.isEmpty())
        return unsure(why);
    return unsure(m_replied ? QStringLiteral("the panel closed the connection") : noReplyText());
}

PanelAnswer PanelExchange::giveUp(int fd)
{
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RD);
        char bytes[4096];
        QByteArray rest;
        ssize_t n = 0;
        while ((n = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT)) > 0)
            rest.append(bytes, n);
        // What came before the wait ran out still counts: a reply, or a "taken" on its way.
        const QList<PanelAnswer> answers = take(rest);
        if (!answers.isEmpty())
            return answers.constFirst();
    }
    return {m_taken ? PanelAnswer::Outcome::Unknown : PanelAnswer::Outcome::Silent, {}, {}};
}

PanelAnswer PanelExchange::unsure(const QString &why) const
{
    // Started on and not told how it ended; else nothing was done, or it was answered before.
    return {m_taken && !m_replied ? PanelAnswer::Outcome::Unknown : PanelAnswer::Outcome::Failed, {}, why};
}

PanelAnswer askPanel(const QString &socketPath, const QByteArray &requestLine, int timeoutMs)
{
    using Outcome = PanelAnswer::Outcome;
    const auto ended = [](Outcome outcome, const QString &why = {}) { return PanelAnswer{outcome, {}, why}; };
    if (socketPath.isEmpty())
        return ended(Outcome::NoPanel);
    QString why;
    const std::optional<sockaddr_un> address = socketAddress(socketPath, &why);
    if (!address)
        return ended(Outcome::Failed, why);

    PanelExchange exchange(requestLine, timeoutMs);
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return ended(Outcome::Failed, qt_error_string());
    for (Connected connected = connectTo(fd.get(), *address); connected != Connected::Yes;
         connected = connectTo(fd.get(), *address)) {
        if (connected == Connected::NoListener)
            return ended(Outcome::NoPanel);
        if (connected == Connected::Failed)
            return ended(Outcome::Failed, qt_error_string());
        if (exchange.waitUntil().hasExpired())
            return ended(Outcome::Silent);
        QThread::msleep(kBacklogRetryMs);
    }

    const QByteArray &line = exchange.line();
    for (qsizetype sent = 0; sent < line.size();) {
        const ssize_t n = ::send(fd.get(), line.constData() + sent, std::size_t(line.size() - sent), MSG_NOSIGNAL);
        const int error = errno;
        if (n >= 0)
            sent += n;
        else if (error == EPIPE || error == ECONNRESET)
            break; // the panel has closed its end; its reply, "busy" say, may be waiting
        else if (error == EAGAIN && !await(fd.get(), POLLOUT, exchange.waitUntil()))
            return ended(Outcome::Silent);
        else if (error != EAGAIN && error != EINTR)
            return ended(Outcome::Failed, qt_error_string(error));
    }

    for (;;) {
        char bytes[4096];
        const ssize_t n = ::recv(fd.get(), bytes, sizeof bytes, 0);
        const int error = errno;
        if (n > 0) {
            if (const QList<PanelAnswer> answers = exchange.take(QByteArrayView(bytes, n)); !answers.isEmpty())
                return answers.constFirst();
        } else if (n == 0) {
            return exchange.ended();
        } else if (error == EAGAIN && !await(fd.get(), POLLIN, exchange.waitUntil())) {
            return exchange.giveUp(fd.get());
        } else if (error != EAGAIN && error != EINTR) {
            return exchange.ended(qt_error_string(error));
        }
    }
}

} // namespace queltor
