#include "channel/two_digit_entry.h"

namespace queltor {

std::optional<int> TwoDigitEntry::type(const QString &text, std::int64_t atMs)
{
    // Only the ASCII digits: other scripts' digits are not channel numbers on the device.
    if (text.size() != 1 || text[0] < QLatin1Char('0') || text[0] > QLatin1Char('9')) {
        m_first.reset();
        return std::nullopt;
    }
    const int digit = text[0].unicode() - '0';
    if (m_first && atMs - m_firstAtMs <= kGapMs) {
        const int channel = *m_first * 10 + digit;
        m_first.reset();
        return channel;
    }
    m_first = digit;
    m_firstAtMs = atMs;
    return std::nullopt;
}

} // namespace queltor
