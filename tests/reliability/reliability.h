#pragma once

// Measuring aids shared by the reliability tests: resident memory and
// event-loop stalls. Clocks and the pty are the test kit's.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <sched.h>
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

// Nanoseconds the hypervisor gave each CPU's time to other machines, by CPU
// number (steal, /proc/stat); zeros where the kernel does not say.
inline std::vector<long long> stolenNsByCpu()
{
    std::ifstream stat("/proc/stat");
    const long long nsPerTick = 1000000000LL / ::sysconf(_SC_CLK_TCK);
    std::vector<long long> stolen;
    std::string name;
    while (stat >> name && name.rfind("cpu", 0) == 0) {
        long long fields[8] = {};
        for (long long &field : fields)
            stat >> field;
        stat.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        if (name.size() == 3)
            continue; // the sum of them all
        const auto cpu = static_cast<std::size_t>(std::stoi(name.substr(3)));
        stolen.resize(std::max(stolen.size(), cpu + 1));
        stolen[cpu] = fields[7] * nsPerTick;
    }
    return stolen;
}

// A 10 ms timer that records the longest gap between its ticks: any handler
// that holds up the event loop shows up as a gap. On a shared machine the
// scheduler alone can hold a ready thread back for a long while, and in a
// virtual machine the host can take the CPU away from the whole guest, so the
// gap is also kept net of the time the thread sat waiting for a CPU, or that
// was stolen from the CPU it ran on, whichever is longer (the one may hold the
// other): that part is the panel's own. The peak resident memory is sampled on
// every tick.
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
            const long long stolen = stolenSinceLastTick();
            const long long ownNs = gapNs - std::max(waited - m_waited, stolen);
            m_waited = waited;
            m_longestStolenMs = std::max(m_longestStolenMs, stolen / 1000000);
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
        m_longestStolenMs = 0;
        m_waited = runQueueWaitNs();
        stolenSinceLastTick();
        m_since.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    // Longest gap between two ticks, as the clock on the wall saw it.
    long long longestGapMs() const { return m_longestGapMs; }
    // The same, less the time the thread was kept off the CPU by other work.
    long long longestOwnGapMs() const { return m_longestOwnGapMs; }
    // The most the host took from this thread's CPU between two ticks.
    long long longestStolenMs() const { return m_longestStolenMs; }
    int ticks() const { return m_ticks; }
    long long peakResident() const { return m_peakResident; }

private:
    // What was stolen from the CPU this thread is on since the last tick; where
    // it moved to another CPU meanwhile, the less of what the two lost.
    long long stolenSinceLastTick()
    {
        const std::vector<long long> stolen = stolenNsByCpu();
        const int cpu = ::sched_getcpu();
        const auto since = [&](int at) {
            const auto i = static_cast<std::size_t>(at);
            return at >= 0 && i < stolen.size() && i < m_stolen.size() ? stolen[i] - m_stolen[i] : 0;
        };
        const long long lost = cpu == m_cpu ? since(cpu) : std::min(since(cpu), since(m_cpu));
        m_stolen = stolen;
        m_cpu = cpu;
        return lost;
    }

    QTimer m_timer;
    QElapsedTimer m_since;
    long long m_waited = 0;
    std::vector<long long> m_stolen;
    int m_cpu = -1;
    long long m_longestStolenMs = 0;
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
