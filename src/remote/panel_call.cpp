#include "remote/panel_call.h"

#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>

namespace queltor {

PanelCall::PanelCall(const QString &socketPath, const remote::Request &request, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_path(socketPath)
    , m_exchange(remote::requestLine(request), timeoutMs)
    , m_line(m_exchange.line())
    , m_watch(request.verb == remote::Request::Verb::Watch)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { end(m_exchange.giveUp(m_fd.get())); });
    rearm();
    m_knock.setSingleShot(true);
    connect(&m_knock, &QTimer::timeout, this, &PanelCall::knock);
    // From the event loop: whoever made the request connects to answered() first.
    m_knock.start(0);
}

PanelCall::~PanelCall() = default;

void PanelCall::knock()
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
    connect(m_readable, &QSocketNotifier::activated, this, &PanelCall::receive);
    connect(m_writable, &QSocketNotifier::activated, this, &PanelCall::send);
    send();
}

void PanelCall::send()
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

void PanelCall::receive()
{
    char bytes[4096];
    const ssize_t n = ::recv(m_fd.get(), bytes, sizeof bytes, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        end(m_exchange.ended(n < 0 ? qt_error_string() : QString()));
        return;
    }
    const QPointer<PanelCall> alive(this);
    for (const PanelAnswer &answer : m_exchange.take(QByteArrayView(bytes, n))) {
        if (answer.outcome != PanelAnswer::Outcome::Answered || !m_watch) {
            // One reply a request, and nothing after a failure: the connection is done with.
            end(answer);
            return;
        }
        emit answered(answer);
        if (!alive)
            return;
    }
    rearm();
}

void PanelCall::rearm()
{
    // "taken" moves the wait on; a watch's first status ends it.
    if (m_exchange.waitUntil().isForever())
        m_deadline.stop();
    else
        m_deadline.start(std::chrono::milliseconds(std::max<qint64>(0, m_exchange.waitUntil().remainingTime())));
}

void PanelCall::end(PanelAnswer::Outcome outcome, const QString &why) { end(PanelAnswer{outcome, {}, why}); }

void PanelCall::end(const PanelAnswer &answer)
{
    if (m_ended)
        return;
    m_ended = true;
    m_deadline.stop();
    m_knock.stop();
    hangUp();
    emit answered(answer);
}

void PanelCall::hangUp()
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
