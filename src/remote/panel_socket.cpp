#include "remote/panel_socket.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace queltor {

namespace {

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
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray session = "/run/user/" + QByteArray::number(::geteuid());
        struct stat status
        { };
        if (::stat(session.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid()
            && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0)
            return QFile::decodeName(session);
    }
#endif
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
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
    PanelAnswer answer;
    if (socketPath.isEmpty())
        return answer;
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (socket.state() != QLocalSocket::ConnectedState && !socket.waitForConnected(int(deadline.remainingTime()))) {
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
            answer.outcome = PanelAnswer::Outcome::NoPanel;
            break;
        default:
            answer.outcome = PanelAnswer::Outcome::Failed;
            answer.why = socket.errorString();
            break;
        }
        return answer;
    }

    socket.write(requestLine);
    QByteArray line;
    while (!line.contains('\n') && line.size() <= remote::kMaxReplyBytes) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            if (socket.bytesAvailable() > 0)
                continue;
            const bool late = deadline.hasExpired() || socket.error() == QLocalSocket::SocketTimeoutError;
            answer.outcome = late ? PanelAnswer::Outcome::Silent : PanelAnswer::Outcome::Failed;
            answer.why = late ? QString() : socket.errorString();
            return answer;
        }
        line += socket.read(remote::kMaxReplyBytes + 1 - line.size());
    }
    const qsizetype end = line.indexOf('\n');
    const std::optional<remote::Reply> reply = end >= 0 ? remote::parseReply(line.first(end)) : std::nullopt;
    if (!reply) {
        answer.outcome = PanelAnswer::Outcome::Failed;
        answer.why = QStringLiteral("the panel's reply is not one of the protocol");
        return answer;
    }
    answer.outcome = PanelAnswer::Outcome::Answered;
    answer.reply = *reply;
    return answer;
}

} // namespace queltor
