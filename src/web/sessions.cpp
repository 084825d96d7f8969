#include "web/sessions.h"

#include <QCryptographicHash>

#include <algorithm>

namespace queltor::web {

namespace {

QByteArray keyOf(QByteArrayView id) { return QCryptographicHash::hash(id, QCryptographicHash::Sha256); }

} // namespace

QByteArray SessionStore::open(const TokenStore::Holder &holder, qint64 nowMs)
{
    m_sessions.removeIf([nowMs](const QHash<QByteArray, Session>::iterator &entry) {
        return nowMs - entry.value().openedMs >= kLifetimeMs;
    });
    if (m_sessions.size() >= kMaxSessions) {
        const auto oldest = std::min_element(m_sessions.begin(), m_sessions.end(),
                                             [](const Session &a, const Session &b) {
                                                 return a.openedMs < b.openedMs;
                                             });
        m_sessions.erase(oldest);
    }
    QByteArray id = randomSecret();
    m_sessions.insert(keyOf(id), {holder, nowMs});
    return id;
}

std::optional<TokenStore::Holder> SessionStore::find(QByteArrayView id, qint64 nowMs)
{
    if (id.isEmpty())
        return std::nullopt;
    const auto found = m_sessions.find(keyOf(id));
    if (found == m_sessions.end())
        return std::nullopt;
    if (nowMs - found->openedMs >= kLifetimeMs) {
        m_sessions.erase(found);
        return std::nullopt;
    }
    return found->holder;
}

void SessionStore::close(QByteArrayView id) { m_sessions.remove(keyOf(id)); }

QByteArray cookieValue(QByteArrayView header, QByteArrayView name)
{
    for (QByteArrayView pair : QByteArray(header.toByteArray()).split(';')) {
        pair = pair.trimmed();
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.first(equals).trimmed() == name)
            return pair.sliced(equals + 1).trimmed().toByteArray();
    }
    return {};
}

} // namespace queltor::web
