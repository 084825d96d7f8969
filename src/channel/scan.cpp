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

int ScanSchedule::start(std::int64_t nowNs, int intervalMs)
{
    m_startNs = nowNs;
    m_intervalNs = std::max<std::int64_t>(intervalMs, 1) * 1'000'000;
    m_dueNs = nowNs + m_intervalNs;
    return armMs(nowNs);
}

std::int64_t ScanSchedule::earlyByNs(std::int64_t nowNs) const { return std::max<std::int64_t>(m_dueNs - nowNs, 0); }

int ScanSchedule::next(std::int64_t nowNs)
{
    m_dueNs += m_intervalNs;
    if (m_dueNs <= nowNs) {
        const std::int64_t slotsPassed = (nowNs - m_startNs) / m_intervalNs;
        m_dueNs = m_startNs + (slotsPassed + 1) * m_intervalNs;
    }
    return armMs(nowNs);
}

int ScanSchedule::armMs(std::int64_t nowNs) const
{
    return static_cast<int>(std::max<std::int64_t>(m_dueNs - nowNs - kLeadNs, 0) / 1'000'000);
}

} // namespace queltor
