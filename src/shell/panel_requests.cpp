#include "shell/panel_requests.h"

#include "channel/scan.h"
#include "link/failure.h"
#include "shell/main_window.h"

namespace queltor {

PanelRequests::PanelRequests(frmMain &window)
    : m_window(window)
    , m_said(remote::statusJson(status()))
{
    connect(&window, &frmMain::stateChanged, this, &PanelRequests::windowChanged);
}

remote::Reply PanelRequests::answer(const remote::Request &request)
{
    using Verb = remote::Request::Verb;
    switch (request.verb) {
    case Verb::Select:
        return select(request.channel);
    case Verb::Status:
        return remote::Reply::done(remote::statusJson(status()));
    case Verb::Scan:
        return scan(request);
    case Verb::Stop:
        m_window.stopScan();
        return remote::Reply::done();
    case Verb::Raise:
        m_window.comeForward();
        return remote::Reply::done();
    case Verb::Watch: // the socket's own
        break;
    }
    return remote::Reply::failed(remote::code::kRequest, QStringLiteral("not a request"));
}

remote::Reply PanelRequests::select(int channel)
{
    const Scan &scan = m_window.scan();
    // The buttons are usable in Manual only. A running scan would overrule the
    // selection at its next tick, so it is not interrupted; an idle Auto is
    // left for Manual, as the operator would leave it.
    if (scan.mode() == Scan::Mode::Auto && scan.started())
        return remote::Reply::failed(remote::code::kScan, QStringLiteral("a scan is running; stop it first"));
    if (channel >= m_window.channelCount())
        return remote::outsideBank(channel, m_window.channelCount());
    if (scan.mode() == Scan::Mode::Auto)
        m_window.chooseManual();
    try {
        m_window.cmdCH_Click(channel);
    } catch (const Failed &e) {
        const QByteArray code = e.failure().kind == Failure::Kind::Port ? remote::code::kPort : remote::code::kPanel;
        return remote::Reply::failed(code, e.failure().text());
    }
    return remote::Reply::done();
}

remote::Reply PanelRequests::scan(const remote::Request &request)
{
    if (m_window.scan().started())
        return remote::Reply::failed(remote::code::kScan, QStringLiteral("a scan is started already; stop it first"));
    // The lists offer the bank's channels only.
    for (const int channel : {request.start, request.end}) {
        if (channel >= m_window.channelCount())
            return remote::outsideBank(channel, m_window.channelCount());
    }
    const QString term = QString::fromLatin1(request.term);
    switch (m_window.startScan(QString::number(request.start), QString::number(request.end), term)) {
    case Scan::StartOutcome::EndBelowStart:
        return remote::Reply::failed(remote::code::kScan,
                                     QStringLiteral("the end channel %1 is below the start channel %2")
                                         .arg(request.end, 2, 10, QLatin1Char('0'))
                                         .arg(request.start, 2, 10, QLatin1Char('0')));
    case Scan::StartOutcome::TermOutOfRange:
        return remote::Reply::failed(remote::code::kScan,
                                     QStringLiteral("the term %1 is not between 0 and 65.535 seconds").arg(term));
    case Scan::StartOutcome::Started:
        break;
    }
    return remote::Reply::done();
}

remote::PanelStatus PanelRequests::status() const
{
    const Link &link = m_window.port();
    const Scan &scan = m_window.scan();
    const PanelShown &shown = m_window.shown();
    remote::PanelStatus status;
    status.port = link.commPort();
    status.device = link.deviceName();
    status.connected = link.state().kind == LinkState::Kind::Connected;
    status.automatic = scan.mode() == Scan::Mode::Auto;
    status.channel = shown.channel;
    status.bank = m_window.channelCount();
    status.scanning = scan.started() && scan.timerEnabled();
    status.scanStart = shown.scanStart;
    status.scanEnd = shown.scanEnd;
    status.scanTermMs = scan.started() ? scan.intervalMs() : Scan::intervalFor(shown.term);
    return status;
}

void PanelRequests::windowChanged()
{
    QByteArray now = remote::statusJson(status());
    if (now == m_said)
        return;
    m_said = std::move(now);
    emit statusChanged(status());
}

} // namespace queltor
