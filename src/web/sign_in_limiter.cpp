#include "web/sign_in_limiter.h"

namespace queltor::web {

bool SignInLimiter::allowed(const QString &address, qint64 nowMs, int *retryAfterSeconds)
{
    const auto found = m_clearAt.constFind(address);
    qint64 waitMs = 0;
    if (found != m_clearAt.cend())
        waitMs = *found - nowMs - (kBurst - 1) * kRecoveryMs;
    else if (m_clearAt.size() >= kMaxAddresses) {
        forgetRecovered(nowMs);
        if (m_clearAt.size() >= kMaxAddresses)
            waitMs = kRecoveryMs;
    }
    if (retryAfterSeconds)
        *retryAfterSeconds = waitMs > 0 ? int((waitMs + 999) / 1000) : 0;
    return waitMs <= 0;
}

void SignInLimiter::failed(const QString &address, qint64 nowMs)
{
    if (!m_clearAt.contains(address)) {
        if (m_clearAt.size() >= kMaxAddresses)
            forgetRecovered(nowMs);
        if (m_clearAt.size() >= kMaxAddresses)
            return; // every new address is refused meanwhile
    }
    qint64 &clearAt = m_clearAt[address];
    clearAt = qMax(clearAt, nowMs) + kRecoveryMs;
}

void SignInLimiter::forgetRecovered(qint64 nowMs)
{
    m_clearAt.removeIf([nowMs](const QHash<QString, qint64>::iterator &entry) { return entry.value() <= nowMs; });
}

} // namespace queltor::web
