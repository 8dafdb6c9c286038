// Shared by the Windows speed programs (delete_speed.cpp, scan_speed.cpp): the clock, the median
// of the rounds and the reading of a count from the command line.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "win32/windows_api.h"

namespace qv::bench {

// Seconds of the performance counter.
inline double Now() {
    LARGE_INTEGER frequency{}, counter{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The positive count argv[index], `fallback` when it is not given, -1 when it is no positive count.
inline int Argument(int argc, char** argv, int index, int fallback) {
    if (argc <= index) return fallback;
    int value = std::atoi(argv[index]);
    return value > 0 ? value : -1;
}

}  // namespace qv::bench
