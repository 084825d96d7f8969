#pragma once

#include "web/token_store.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <optional>

namespace queltor::web {

// The page's sign-ins: a session is opened with a token and named by a random
// id of 256 bits that only the browser's cookie holds; the server keeps the id's
// hash, so a lookup's time says nothing about the ids it knows. A session
// lasts kLifetimeMs from its sign-in; beyond kMaxSessions the oldest goes.
class SessionStore
{
public:
    static constexpr qint64 kLifetimeMs = 12 * 60 * 60 * 1000;
    static constexpr int kMaxSessions = 256;

    // A new session for holder; its id, for the cookie.
    QByteArray open(const TokenStore::Holder &holder, qint64 nowMs);
    // The holder whose sign-in id names, while it lasts.
    std::optional<TokenStore::Holder> find(QByteArrayView id, qint64 nowMs);
    void close(QByteArrayView id);
    int count() const { return int(m_sessions.size()); }

private:
    struct Session
    {
        TokenStore::Holder holder;
        qint64 openedMs = 0;
    };
    QHash<QByteArray, Session> m_sessions; // by the id's hash
};

// The value of cookie name in a Cookie header ("a=1; b=2"); empty when it has none.
QByteArray cookieValue(QByteArrayView header, QByteArrayView name);

} // namespace queltor::web
