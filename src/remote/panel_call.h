#pragma once

#include "remote/local_socket.h"
#include "remote/panel_socket.h"
#include "remote/protocol.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace queltor {

// One request to the panel without blocking, for a program with an event
// loop: askPanel's exchange (PanelExchange), its bytes taken as they come.
//
// answered() comes once, with the reply or with why there is none, and never
// before the event loop runs: Silent when the panel did not take the request
// before its deadline, timeoutMs from now, and Unknown when it took it but
// did not reply within kActMs more. A watch is answered once per status line,
// without a time limit after the first; when its stream ends, answered()
// comes a last time with an outcome other than Answered. A receiver that is
// done with the request deletes it with deleteLater().
class PanelCall : public QObject
{
    Q_OBJECT
public:
    PanelCall(const QString &socketPath, const remote::Request &request, int timeoutMs, QObject *parent = nullptr);
    ~PanelCall() override;

    PanelCall(const PanelCall &) = delete;
    PanelCall &operator=(const PanelCall &) = delete;

signals:
    void answered(const queltor::PanelAnswer &answer);

private:
    void knock();
    void send();
    void receive();
    void rearm();
    void end(PanelAnswer::Outcome outcome, const QString &why = {});
    void end(const PanelAnswer &answer);
    void hangUp();

    QString m_path;
    PanelExchange m_exchange;
    QByteArray m_line; // what is still to be sent
    bool m_watch = false;
    bool m_ended = false;
    UniqueFd m_fd;
    QSocketNotifier *m_readable = nullptr; // children, so they go before the descriptor closes
    QSocketNotifier *m_writable = nullptr;
    QTimer m_deadline;
    QTimer m_knock;
    QByteArray m_received;
};

} // namespace queltor
