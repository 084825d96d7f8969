#pragma once

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <ctime>

// Nanoseconds on the wall (monotonic) and of CPU this process has used, user
// and system together.
inline std::int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
inline std::int64_t wallNs() { return clockNs(CLOCK_MONOTONIC); }
inline std::int64_t cpuNs() { return clockNs(CLOCK_PROCESS_CPUTIME_ID); }

// How often this thread's event loop wakes while it runs for ms with nothing
// asked of it: a loop that is truly idle wakes once to start and once for
// the timer that ends the wait.
inline int wakeUpsWhileIdle(int ms)
{
    int wakeUps = 0;
    QObject counter;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &counter,
                     [&wakeUps] { ++wakeUps; });
    QEventLoop idle;
    QTimer::singleShot(ms, &idle, &QEventLoop::quit);
    idle.exec();
    return wakeUps;
}
