#pragma once

#include <QHash>
#include <QString>

namespace queltor::web {

// Failed sign-ins counted per client address, so that no address can try
// tokens faster than a person would type them. Each address may fail kBurst
// times in a row; after that it is refused until its count has run down, one
// failure every kRecoveryMs. An address is tracked only while its count is
// above zero, and at most kMaxAddresses at once: with the table full of
// addresses still failing, a new address is refused as well.
class SignInLimiter
{
public:
    static constexpr int kBurst = 5;
    static constexpr qint64 kRecoveryMs = 12000;
    static constexpr int kMaxAddresses = 4096;

    // Whether address may try now; when not, how many whole seconds until it may.
    bool allowed(const QString &address, qint64 nowMs, int *retryAfterSeconds = nullptr);
    void failed(const QString &address, qint64 nowMs);

private:
    void forgetRecovered(qint64 nowMs);

    // When each address's count reaches zero.
    QHash<QString, qint64> m_clearAt;
};

} // namespace queltor::web
