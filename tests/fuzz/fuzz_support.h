#pragma once
// Shared set-up of the fuzz targets: a scratch root for the settings files and the records
// the program runs on, built as main builds them.
#include "app/works_setup.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace fuzz {

// Creates <tmp>/ampctl-fuzz-<pid>/opt/set and points AMPCTL_ROOT at it (once per process).
inline const std::string& scratchRoot()
{
    static const std::string root = [] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = std::string(base && *base ? base : "/tmp") + "/ampctl-fuzz-" + std::to_string(getpid());
        std::filesystem::create_directories(dir + "/opt/set");
        setenv("AMPCTL_ROOT", dir.c_str(), 1);
        return dir;
    }();
    return root;
}

// Writes the input as the given settings file (relative to the root, "opt/set/config.txt").
inline void writeSettings(const char* relative, const uint8_t* data, size_t size)
{
    std::ofstream(scratchRoot() + "/" + relative, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A broken invariant: the message, then abort so that libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("INVARIANT: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

// The program's records; used like a pointer to their works record.
struct FreshWorks {
    std::unique_ptr<WorksRecords> records = buildWorksRecords();
    Works* get() const { return &records->works; }
    Works* operator->() const { return get(); }
    Works& operator*() const { return *get(); }
};

// The records as start-up leaves them once the board has answered (errors may be listed).
inline FreshWorks freshWorks()
{
    FreshWorks works;
    works->cpFlag = 0;
    return works;
}

} // namespace fuzz
