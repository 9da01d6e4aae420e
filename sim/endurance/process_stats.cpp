#include "process_stats.h"

#include <dirent.h>
#include <fstream>
#include <string>

namespace endurance {

ProcessStats readProcessStats(pid_t pid)
{
    ProcessStats s;
    const std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            s.rssMiB = std::stod(line.substr(6)) / 1024.0;  // kB
        else if (line.rfind("Threads:", 0) == 0)
            s.threads = std::stoi(line.substr(8));
    }
    if (DIR* d = opendir((dir + "/fd").c_str())) {
        int n = 0;
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
        s.descriptors = n;
    }
    return s;
}

} // namespace endurance
