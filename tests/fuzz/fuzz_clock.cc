// The monotonic clock for the fuzz targets: real time, but the decoder's pauses between
// replies (10 and 20 ms) are skipped so that each input runs at full speed.
#include "platform/clock.h"

#include <ctime>

double monoSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int64_t monoMillis()
{
    return static_cast<int64_t>(monoSeconds() * 1000.0);
}

void sleepMs(int64_t) {}
