#pragma once
// The processor time the kernel has counted for a process or one of its threads, from
// /proc/PID/stat or /proc/PID/task/TID/stat: user and system time (fields 14 and 15), and
// with withReapedChildren also that of the children it has waited for (16 and 17).
#include <string>

namespace sim {

// Seconds; -1 when the file cannot be read or parsed. `name`, if given, receives the
// command or thread name (which may itself hold spaces and parentheses).
double procCpuSeconds(const std::string& statPath, bool withReapedChildren = false, std::string* name = nullptr);

} // namespace sim
