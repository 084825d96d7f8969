#include "remote/panel_socket.h"

#include "remote/local_socket.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
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

PanelAnswer askPanel(const QString &socketPath, const QByteArray &requestLine, int timeoutMs)
{
    using Outcome = PanelAnswer::Outcome;
    PanelAnswer answer;
    const auto ended = [&answer](Outcome outcome, const QString &why = {}) {
        answer.outcome = outcome;
        answer.why = why;
        return answer;
    };
    if (socketPath.isEmpty())
        return ended(Outcome::NoPanel);
    QString why;
    const std::optional<sockaddr_un> address = socketAddress(socketPath, &why);
    if (!address)
        return ended(Outcome::Failed, why);

    // The panel acts only before the deadline; a little longer here lets one
    // that starts at the last moment say so.
    QByteArray line = requestLine.endsWith('\n') ? requestLine.chopped(1) : requestLine;
    line += " deadline=" + QByteArray::number(remote::monotonicMs() + timeoutMs) + '\n';
    QDeadlineTimer deadline(timeoutMs + kGraceMs);

    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return ended(Outcome::Failed, qt_error_string());
    while (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&*address), sizeof *address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED)
            return ended(Outcome::NoPanel); // no socket, or one nobody listens on
        if (errno != EAGAIN && errno != EINTR)
            return ended(Outcome::Failed, qt_error_string());
        // EAGAIN: a panel listens but its backlog is full; nothing to poll for, so try again shortly.
        if (deadline.hasExpired())
            return ended(Outcome::Silent);
        QThread::msleep(10);
    }

    for (qsizetype sent = 0; sent < line.size();) {
        const ssize_t n = ::send(fd.get(), line.constData() + sent, std::size_t(line.size() - sent), MSG_NOSIGNAL);
        const int error = errno;
        if (n >= 0)
            sent += n;
        else if (error == EPIPE || error == ECONNRESET)
            break; // the panel has closed its end; its reply, "busy" say, may be waiting
        else if (error == EAGAIN && !await(fd.get(), POLLOUT, deadline))
            return ended(Outcome::Silent);
        else if (error != EAGAIN && error != EINTR)
            return ended(Outcome::Failed, qt_error_string(error));
    }

    const QByteArray takenLine = remote::kTaken + '\n';
    QByteArray received;
    bool taken = false;
    for (;;) {
        if (!taken && received.startsWith(takenLine)) {
            taken = true;
            received.remove(0, takenLine.size());
            deadline = QDeadlineTimer(PanelAnswer::kActMs);
        }
        if (const qsizetype end = received.indexOf('\n'); end >= 0) {
            const std::optional<remote::Reply> reply = remote::parseReply(received.first(end));
            if (!reply)
                return ended(taken ? Outcome::Unknown : Outcome::Failed,
                             QStringLiteral("the panel's reply is not one of the protocol"));
            answer.reply = *reply;
            return ended(Outcome::Answered);
        }
        if (received.size() > remote::kMaxReplyBytes + takenLine.size())
            return ended(taken ? Outcome::Unknown : Outcome::Failed,
                         QStringLiteral("the panel's reply is not one of the protocol"));
        char bytes[4096];
        const ssize_t n = ::recv(fd.get(), bytes, sizeof bytes, 0);
        const int error = errno;
        if (n > 0) {
            received.append(bytes, n);
        } else if (n == 0) {
            return ended(taken ? Outcome::Unknown : Outcome::Failed,
                         QStringLiteral("the panel closed the connection without a reply"));
        } else if (error == EAGAIN && !await(fd.get(), POLLIN, deadline)) {
            if (taken)
                return ended(Outcome::Unknown);
            // Too late: from here on "taken" cannot reach us, so the panel will
            // not start on it. Only one already on its way counts.
            ::shutdown(fd.get(), SHUT_RD);
            ssize_t rest = 0;
            while ((rest = ::recv(fd.get(), bytes, sizeof bytes, MSG_DONTWAIT)) > 0)
                received.append(bytes, rest);
            return ended(received.startsWith(takenLine) ? Outcome::Unknown : Outcome::Silent);
        } else if (error != EAGAIN && error != EINTR) {
            return ended(taken ? Outcome::Unknown : Outcome::Failed, qt_error_string(error));
        }
    }
}

} // namespace queltor
