#include "display/display_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<DisplayLogSink> sink{nullptr};
}

void setDisplayLogSink(DisplayLogSink s)
{
    sink.store(s);
}

void displayLog(int priority, const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    logSys(priority, "%s", line);
    if (DisplayLogSink s = sink.load())
        s(priority, line);
}
