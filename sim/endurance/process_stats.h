#pragma once
// A running process's resident memory, open descriptors and threads, read from /proc.
#include <sys/types.h>

namespace endurance {

struct ProcessStats {
    double rssMiB = -1;  // VmRSS
    int descriptors = -1; // entries of /proc/PID/fd
    int threads = -1;     // Threads:
};

// -1 fields for what could not be read (the process has gone).
ProcessStats readProcessStats(pid_t pid);

} // namespace endurance
