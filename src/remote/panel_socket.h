#pragma once

#include "remote/protocol.h"

#include <QByteArray>
#include <QString>

namespace queltor {

// Where the panel that keeps settingsFile takes requests: a socket in the
// user's runtime folder ($XDG_RUNTIME_DIR, which only the user may enter; when
// it is not set, /run/user/UID if the user has one), named from the file's
// path, so panels of different settings files never meet. Empty when the
// user has no runtime folder.
QString panelSocketPath(const QString &settingsFile);

// One request to the panel at socketPath and its reply, waiting at most timeoutMs
// in all. Blocks: for queltor-ctl and for a panel before its window exists.
struct PanelAnswer
{
    enum class Outcome {
        Answered, // reply holds the panel's reply
        NoPanel,  // no panel listens there (no socket, or one a killed panel left)
        Silent,   // a panel took the request but gave no reply in time
        Failed,   // the socket could not be used; why says why
    };
    Outcome outcome = Outcome::NoPanel;
    remote::Reply reply;
    QString why;

    // The reply; else the failure that stands for it, coded "timeout",
    // "socket" or "no-panel", in the words scripts get. timeoutMs is how long
    // the panel was given, settingsFile the one it would keep.
    remote::Reply result(int timeoutMs, const QString &settingsFile) const;
};
PanelAnswer askPanel(const QString &socketPath, const QByteArray &requestLine, int timeoutMs);

// How long a client waits before it knocks again on a panel whose backlog is full.
constexpr int kBacklogRetryMs = 10;
// Why a request failed when the panel closed without a reply, or replied outside the protocol.
QString noReplyText();
QString strangeReplyText();

} // namespace queltor
