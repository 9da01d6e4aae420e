#include "platform/log.h"

#include "platform/paths.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::once_flag logOpened;
}

void logSys(int priority, const char* format, ...)
{
    std::call_once(logOpened, [] { openlog("ampctl", LOG_PID, LOG_USER); });
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    syslog(priority, "%s", line);
    if (!rootPrefix().empty())
        fprintf(stderr, "syslog[%d]: %s\n", priority, line);
}

void logErr(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}
