#pragma once

#include "remote/protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

namespace queltor {

// Where the panel that keeps settingsFile takes requests: a socket in the
// user's runtime folder ($XDG_RUNTIME_DIR, which only the user may enter; when
// it is not set, /run/user/UID if the user has one), named from the file's
// path, so panels of different settings files never meet. Empty when the
// user has no runtime folder.
QString panelSocketPath(const QString &settingsFile);

// What became of one request to the panel, as its client saw it.
struct PanelAnswer
{
    // Once the panel has said "taken", its reply is waited for this much more.
    static constexpr int kActMs = 5000;

    enum class Outcome {
        Answered, // reply holds the panel's reply
        NoPanel,  // no panel listens there (no socket, or one a killed panel left)
        Silent,   // the panel did not start on the request before its deadline: it was not done
        Unknown,  // the panel started on the request but gave no reply: whether it was done is not known
        Failed,   // the socket could not be used, and nothing was done; why says why
    };
    Outcome outcome = Outcome::NoPanel;
    remote::Reply reply;
    QString why;

    // The reply; else the failure that stands for it, coded "timeout",
    // "unknown", "socket" or "no-panel", in the words scripts get. timeoutMs
    // is how long the panel was given, settingsFile the one it would keep.
    remote::Reply result(int timeoutMs, const QString &settingsFile) const;
};

// One request to the panel at socketPath and its reply. The request goes with
// a deadline timeoutMs from now, after which the panel does not act on it; a
// panel that has not started on it by then never will. Once it has started,
// its reply is waited for kActMs more. Blocks: for queltor-ctl and for a panel
// before its window exists; PanelCall is the same without blocking.
PanelAnswer askPanel(const QString &socketPath, const QByteArray &requestLine, int timeoutMs);

// The client's side of one request, whatever waits on its socket: askPanel
// and PanelCall both keep to it. It gives the line its deadline, reads
// "taken" and the replies, and says what each way the wait can end means:
// before "taken", nothing was done; after it and before a reply, whether it
// was done is not known. A watch's stream goes on after its first reply,
// without a time limit.
class PanelExchange
{
public:
    // requestLine with or without its line end.
    PanelExchange(const QByteArray &requestLine, int timeoutMs);

    // The line to send, its deadline included.
    const QByteArray &line() const { return m_line; }
    // Until when the panel is waited for now: the deadline and a grace until
    // "taken", kActMs from "taken", for ever from the first reply.
    const QDeadlineTimer &waitUntil() const { return m_wait; }

    // Bytes from the panel: the answers they complete, in order. A failure
    // among them is the last there will be.
    QList<PanelAnswer> take(QByteArrayView bytes);
    // The panel closed its end (why empty) or the socket failed with why.
    PanelAnswer ended(const QString &why = {}) const;
    // The wait ran out. Shuts fd's reading side first, so that a "taken" not
    // sent yet can no longer go and the panel does not start late; what had
    // come before still counts.
    PanelAnswer giveUp(int fd);

private:
    PanelAnswer unsure(const QString &why) const;

    QByteArray m_line;
    QDeadlineTimer m_wait;
    QByteArray m_received;
    bool m_taken = false;
    bool m_replied = false;
};

// How long a client waits before it knocks again on a panel whose backlog is full.
constexpr int kBacklogRetryMs = 10;

} // namespace queltor
