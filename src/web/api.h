#pragma once

#include "remote/panel_socket.h"
#include "remote/protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <variant>

// The JSON API as plain functions: what a call asks of the panel, and the
// HTTP status and body that answer it. The server around them only moves bytes.
namespace queltor::web {

// The largest body a call takes.
constexpr qsizetype kMaxBodyBytes = 4096;
// How long a call waits for the panel, as queltor-ctl does.
constexpr int kPanelTimeoutMs = 5000;

// The headers of every answer: the page runs only its own files, in no frame,
// and sends no referrer; nothing is cached.
const QList<std::pair<QByteArray, QByteArray>> &commonHeaders();

// An answer of the API: its HTTP status and its JSON body.
struct ApiAnswer
{
    int status = 200;
    QByteArray body;
};

// {"error": code, "message": text}, with status.
ApiAnswer refusal(int status, const QByteArray &code, const QString &message);
// 413 for a body over kMaxBodyBytes.
ApiAnswer bodyTooLarge();
// 403 for a browser's call from a page other than the server's.
ApiAnswer otherOrigin();

// What a POST to /api/select ({"channel": N}), /api/scan ({"start": S,
// "end": E, "term": T}, T in seconds, a number or a text such as "0.5") or
// /api/stop asks of the panel: the request, or the answer refusing the body,
// 413 beyond kMaxBodyBytes and 400 when it is not what the call takes.
// Ranges the panel checks (the bank, the term's limits) are left to the panel.
std::variant<remote::Request, ApiAnswer> panelRequest(remote::Request::Verb verb, QByteArrayView body);

// The answer to a call the panel answered, or did not: 200 with the status
// JSON or {"ok":true}; 409 with the panel's refusal in queltor-ctl's codes and
// texts; 503 when no panel took it in time or it is busy, so that it was not
// done; 504 "unknown" when the panel took it and gave no reply, so that
// whether it was done is not known; 500 when it failed in a way it did not
// expect. settingsFile names the panel.
ApiAnswer apiAnswer(const PanelAnswer &answer, const QString &settingsFile);

// Whether a browser's Origin header names the server that its Host header
// names, by the scheme the request came in with.
bool sameOrigin(QByteArrayView origin, QByteArrayView host, bool tls);

} // namespace queltor::web
