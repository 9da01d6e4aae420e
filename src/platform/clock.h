#pragma once
// Every duration of the program is measured on the monotonic clock, never in processor time.
#include <cstdint>

// Seconds since an arbitrary fixed point, monotonic.
double monoSeconds();
// Milliseconds since an arbitrary fixed point, monotonic.
int64_t monoMillis();
void sleepMs(int64_t ms);
