#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace queltor {

// A channel typed as two digits on the keyboard ("5", "7" for 57). The second
// digit must follow the first within kGapMs; a later one starts afresh, and any
// other key forgets a first digit, so a stray key never selects anything.
class TwoDigitEntry
{
public:
    static constexpr std::int64_t kGapMs = 1500;

    // A key's text typed at atMs (any steady clock in milliseconds); returns the
    // channel when it completes two digits.
    std::optional<int> type(const QString &text, std::int64_t atMs);
    void reset() { m_first.reset(); }

private:
    std::optional<int> m_first;
    std::int64_t m_firstAtMs = 0;
};

} // namespace queltor
