#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <optional>

namespace queltor {

// The automatic scan's state: the mode switch, whether a scan was started
// (the button then reads "Stop Scan") and whether its timer runs.
//
//   Manual            - idle, channel buttons usable
//   Auto              - idle, scan controls usable
//   Scanning          - Auto, started, timer on
//   Manual/Auto held  - started, but Manual was chosen meanwhile: timer off
class Scan
{
public:
    enum class Mode { Manual, Auto };
    enum class StartOutcome { Started, EndBelowStart, TermOutOfRange };

    // The button's captions, in the source language: the window translates them as it shows them.
    static constexpr const char *kStartCaption = QT_TRANSLATE_NOOP("queltor::Scan", "Start Scan");
    static constexpr const char *kStopCaption = QT_TRANSLATE_NOOP("queltor::Scan", "Stop Scan");
    static constexpr int kLongestIntervalMs = 65535;

    Mode mode() const { return m_mode; }
    bool started() const { return m_started; }
    bool timerEnabled() const { return m_timerEnabled; }
    int intervalMs() const { return m_intervalMs; }
    double nextChannel() const { return m_next; }

    const char *caption() const { return m_started ? kStopCaption : kStartCaption; }
    bool manualFrameEnabled() const { return m_mode == Mode::Manual; }
    bool autoFrameEnabled() const { return m_mode == Mode::Auto; }
    // The lists, the term box and the Channel Count and Serial Port menus.
    bool settingsEnabled() const { return !m_started; }

    void chooseAuto() { m_mode = Mode::Auto; }
    void chooseManual();

    // Start Scan. The texts are the lists' and the term box's as they stand;
    // nothing changes unless the outcome is Started.
    StartOutcome start(const QString &startText, const QString &endText, const QString &termText);
    // Stop Scan: also releases a held scan.
    void stop();

    // One tick: the channel to select now (nullopt when it cannot be a channel);
    // then advances, wrapping to the start after the end.
    std::optional<int> channelForTick() const;
    void advance(const QString &startText, const QString &endText);

    // The term box's text as a timer interval, or nullopt when outside 0..65535 ms.
    static std::optional<int> intervalFor(const QString &termText);

private:
    Mode m_mode = Mode::Manual;
    bool m_started = false;
    bool m_timerEnabled = false;
    int m_intervalMs = 0;
    double m_next = 0;
};

// When the scan's ticks fall due: on a fixed grid counted from Start Scan, so a
// late tick never pushes the later ones back. A tick late by a whole term or
// more rejoins the grid at its next slot instead of sending the missed channels
// in a burst. The event loop wakes a timer up to a millisecond late, so the
// timer is armed a little early and the tick waits out the rest itself.
class ScanSchedule
{
public:
    static constexpr std::int64_t kLeadNs = 1'000'000;

    // Returns the milliseconds to arm the timer for the first tick.
    int start(std::int64_t nowNs, int intervalMs);
    // How long before its slot the tick handled at nowNs came (0 when on time or late).
    std::int64_t earlyByNs(std::int64_t nowNs) const;
    // Called once the due tick is handled: moves to the next slot and returns
    // the milliseconds to arm the timer for it.
    int next(std::int64_t nowNs);

private:
    int armMs(std::int64_t nowNs) const;

    std::int64_t m_startNs = 0;
    std::int64_t m_intervalNs = 1;
    std::int64_t m_dueNs = 0;
};

} // namespace queltor
