#pragma once
// Small helpers shared by the benchmark programs.

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace dz::bench {

inline double CpuSeconds(int who = RUSAGE_SELF)
{
    rusage u {};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline long MaxRssKiB(int who = RUSAGE_SELF)
{
    rusage u {};
    getrusage(who, &u);
    return u.ru_maxrss;
}

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

} // namespace dz::bench
