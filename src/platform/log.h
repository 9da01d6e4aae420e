#pragma once
// Diagnostics: free-form lines to standard error and lines to the system log.
// LOG_ERR (3) marks failures, LOG_INFO (6) progress.
#include <syslog.h>

// One line to the system log. On a simulated unit (AMPCTL_ROOT set) the line is also
// copied to standard error as "syslog[prio]: text", since such a root has no log daemon.
void logSys(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Free-form text to standard error, as given (the caller supplies any line end).
void logErr(const char* format, ...) __attribute__((format(printf, 1, 2)));
