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

// One request to the panel at socketPath and its reply. The request goes with
// a deadline timeoutMs from now, after which the panel does not act on it; a
// panel that has not started on it by then never will. Once it has started,
// its reply is waited for kActMs more. Blocks: for queltor-ctl and for a panel
// before its window exists. Every client of the panel asks through here.
struct PanelAnswer
{
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
};
PanelAnswer askPanel(const QString &socketPath, const QByteArray &requestLine, int timeoutMs);

} // namespace queltor
