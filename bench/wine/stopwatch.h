// Elapsed time from the performance counter, in milliseconds.
#pragma once

#include <windows.h>

struct Stopwatch {
    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
};

inline Stopwatch StartStopwatch() {
    Stopwatch watch;
    QueryPerformanceFrequency(&watch.frequency);
    QueryPerformanceCounter(&watch.started);
    return watch;
}

inline double ElapsedMs(const Stopwatch& watch) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - watch.started.QuadPart) /
           static_cast<double>(watch.frequency.QuadPart);
}
