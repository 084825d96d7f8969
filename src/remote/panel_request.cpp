#include "remote/panel_request.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>

namespace queltor {

PanelRequest::PanelRequest(const QString &socketPath, const remote::Request &request, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_path(socketPath)
    , m_line(remote::requestLine(request))
    , m_watch(request.verb == remote::Request::Verb::Watch)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { end(PanelAnswer::Outcome::Silent); });
    m_deadline.start(timeoutMs);
    m_knock.setSingleShot(true);
    connect(&m_knock, &QTimer::timeout, this, &PanelRequest::knock);
    // From the event loop: whoever made the request connects to answered() first.
    m_knock.start(0);
}

PanelRequest::~PanelRequest() = default;

void PanelRequest::knock()
{
    if (m_path.isEmpty()) {
        end(PanelAnswer::Outcome::NoPanel);
        return;
    }
    QString why;
    const std::optional<sockaddr_un> address = socketAddress(m_path, &why);
    if (!address) {
        end(PanelAnswer::Outcome::Failed, why);
        return;
    }
    if (!m_fd.isValid())
        m_fd = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_fd.isValid()) {
        end(PanelAnswer::Outcome::Failed, qt_error_string());
        return;
    }
    switch (connectTo(m_fd.get(), *address)) {
    case Connected::NoListener:
        end(PanelAnswer::Outcome::NoPanel);
        return;
    case Connected::Failed:
        end(PanelAnswer::Outcome::Failed, qt_error_string());
        return;
    case Connected::Backlog:
        m_knock.start(kBacklogRetryMs);
        return;
    case Connected::Yes:
        break;
    }
    m_readable = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
    m_writable = new QSocketNotifier(m_fd.get(), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_readable, &QSocketNotifier::activated, this, &PanelRequest::receive);
    connect(m_writable, &QSocketNotifier::activated, this, &PanelRequest::send);
    send();
}

void PanelRequest::send()
{
    while (!m_line.isEmpty()) {
        const ssize_t n = ::send(m_fd.get(), m_line.constData(), std::size_t(m_line.size()), MSG_NOSIGNAL);
        if (n >= 0) {
            m_line.remove(0, n);
        } else if (errno == EAGAIN) {
            m_writable->setEnabled(true);
            return;
        } else if (errno == EPIPE || errno == ECONNRESET) {
            m_line.clear(); // the panel has closed its end; its reply, "busy" say, may be waiting
        } else if (errno != EINTR) {
            end(PanelAnswer::Outcome::Failed, qt_error_string());
            return;
        }
    }
    m_writable->setEnabled(false);
}

void PanelRequest::receive()
{
    char bytes[4096];
    const ssize_t n = ::recv(m_fd.get(), bytes, sizeof bytes, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n < 0) {
        end(PanelAnswer::Outcome::Failed, qt_error_string());
        return;
    }
    if (n == 0) {
        end(PanelAnswer::Outcome::Failed,
            m_repliedOnce ? QStringLiteral("the panel closed the connection") : noReplyText());
        return;
    }
    m_received.append(bytes, n);
    const QPointer<PanelRequest> alive(this);
    for (qsizetype end = m_received.indexOf('\n'); end >= 0 && !m_ended; end = m_received.indexOf('\n')) {
        const std::optional<remote::Reply> reply = remote::parseReply(m_received.first(end));
        m_received.remove(0, end + 1);
        if (!reply) {
            this->end(PanelAnswer::Outcome::Failed, strangeReplyText());
            return;
        }
        m_repliedOnce = true;
        m_deadline.stop();
        if (!m_watch) {
            // One reply a request: the connection is done with.
            m_ended = true;
            hangUp();
        }
        emit answered({PanelAnswer::Outcome::Answered, *reply, {}});
        if (!alive)
            return;
    }
    if (!m_ended && m_received.size() > remote::kMaxReplyBytes)
        end(PanelAnswer::Outcome::Failed, strangeReplyText());
}

void PanelRequest::end(PanelAnswer::Outcome outcome, const QString &why)
{
    if (m_ended)
        return;
    m_ended = true;
    m_deadline.stop();
    m_knock.stop();
    hangUp();
    emit answered({outcome, {}, why});
}

void PanelRequest::hangUp()
{
    // Deleted later, not here: this may run from one of their own signals.
    for (QSocketNotifier **notifier : {&m_readable, &m_writable}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    m_fd.reset();
}

} // namespace queltor
