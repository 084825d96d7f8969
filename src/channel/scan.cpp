#include "channel/scan.h"

#include "channel/command.h"
#include "channel/numbers.h"

#include <algorithm>

namespace queltor {

void Scan::chooseManual()
{
    // The timer stops, but a started scan stays started until Stop Scan.
    m_mode = Mode::Manual;
    m_timerEnabled = false;
}

Scan::StartOutcome Scan::start(const QString &startText, const QString &endText, const QString &termText)
{
    const double end = numericValue(endText);
    const double start = numericValue(startText);
    if (end < start)
        return StartOutcome::EndBelowStart;
    const std::optional<int> interval = intervalFor(termText);
    if (!interval)
        return StartOutcome::TermOutOfRange;

    m_started = true;
    m_next = start;
    m_intervalMs = *interval;
    m_timerEnabled = true;
    return StartOutcome::Started;
}

void Scan::stop()
{
    m_started = false;
    m_timerEnabled = false;
}

std::optional<int> Scan::channelForTick() const
{
    const std::optional<std::int16_t> channel = roundToInt16(m_next);
    if (!channel || !isChannel(*channel))
        return std::nullopt;
    return *channel;
}

void Scan::advance(const QString &startText, const QString &endText)
{
    m_next += 1;
    if (m_next > numericValue(endText))
        m_next = numericValue(startText);
}

std::optional<int> Scan::intervalFor(const QString &termText)
{
    const auto ms = roundHalfEven(numericValue(termText) * 1000, 0, kLongestIntervalMs);
    if (!ms)
        return std::nullopt;
    return static_cast<int>(*ms);
}

void ScanSchedule::start(std::int64_t nowNs, int intervalMs)
{
    m_startNs = nowNs;
    m_intervalNs = std::max<std::int64_t>(intervalMs, 1) * 1'000'000;
    m_ticks = 0;
}

int ScanSchedule::msUntilNextTick(std::int64_t nowNs)
{
    ++m_ticks;
    std::int64_t due = m_startNs + (m_ticks + 1) * m_intervalNs;
    if (due <= nowNs) {
        m_ticks = (nowNs - m_startNs) / m_intervalNs;
        due = m_startNs + (m_ticks + 1) * m_intervalNs;
    }
    // Rounded to the nearest millisecond: each wait is reckoned from the grid,
    // so these half-milliseconds never add up.
    return static_cast<int>((due - nowNs + 500'000) / 1'000'000);
}

} // namespace queltor
