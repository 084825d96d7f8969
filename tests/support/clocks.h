#pragma once

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
