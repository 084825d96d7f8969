#pragma once

// Measuring aids shared by the reliability tests: resident memory and
// event-loop stalls. Clocks and the pty are the test kit's.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <unistd.h>

namespace reliability {

// AddressSanitizer holds freed memory in quarantine and keeps shadow pages, so
// resident size says nothing about the program's own growth in such a build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

// Resident set size of this process in bytes, from /proc/self/statm.
inline long long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long pages = 0;
    long long resident = 0;
    statm >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Nanoseconds this thread has spent runnable but waiting for a CPU
// (/proc/thread-self/schedstat); 0 where the kernel does not say.
inline long long runQueueWaitNs()
{
    std::ifstream schedstat("/proc/thread-self/schedstat");
    long long onCpu = 0;
    long long waiting = 0;
    schedstat >> onCpu >> waiting;
    return waiting;
}

// A 10 ms timer that records the longest gap between its ticks: any handler
// that holds up the event loop shows up as a gap. On a shared machine the
// scheduler alone can hold a ready thread back for a long while, so the gap is
// also kept net of the time the thread sat waiting for a CPU: that part is the
// panel's own. The peak resident memory is sampled on every tick.
class Heartbeat : public QObject
{
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 gapNs = m_since.nsecsElapsed();
            m_since.start();
            const long long waited = runQueueWaitNs();
            const long long ownNs = gapNs - (waited - m_waited);
            m_waited = waited;
            m_longestGapMs = std::max(m_longestGapMs, gapNs / 1000000);
            m_longestOwnGapMs = std::max(m_longestOwnGapMs, ownNs / 1000000);
            ++m_ticks;
            m_peakResident = std::max(m_peakResident, residentBytes());
        });
    }

    void start()
    {
        m_longestGapMs = 0;
        m_longestOwnGapMs = 0;
        m_ticks = 0;
        m_peakResident = residentBytes();
        m_waited = runQueueWaitNs();
        m_since.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    // Longest gap between two ticks, as the clock on the wall saw it.
    long long longestGapMs() const { return m_longestGapMs; }
    // The same, less the time the thread was kept off the CPU by other work.
    long long longestOwnGapMs() const { return m_longestOwnGapMs; }
    int ticks() const { return m_ticks; }
    long long peakResident() const { return m_peakResident; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    long long m_waited = 0;
    long long m_longestGapMs = 0;
    long long m_longestOwnGapMs = 0;
    int m_ticks = 0;
    long long m_peakResident = 0;
};

// Runs the event loop as the application would, until done() holds or
// timeoutMs pass; true when done() held. QTest::qWait sleeps 10 ms between
// turns of the loop, which would slow a 1 ms timer to a tenth of its pace.
template <typename Done>
bool runUntil(Done done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    check.setInterval(2);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

} // namespace reliability
