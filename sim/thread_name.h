#pragma once
// Names the calling thread (15 characters at most), so that `top -H`, gdb and the benchmarks
// can tell the simulator's threads apart. The web panel's threads are named "web-...": a
// thread inherits its creator's name, so the HTTP server's workers are "web-http" too.
#include <sys/prctl.h>

namespace sim {

inline void nameThisThread(const char* name)
{
    prctl(PR_SET_NAME, name, 0, 0, 0);
}

} // namespace sim
