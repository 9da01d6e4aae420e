#include "ui/keyboard.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "ui/keyboard_events.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <linux/input.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int WAIT_SLICE_MS = 100;
constexpr int READ_WAIT_MS = 200;       // a blocked read looks at running this often
constexpr int READ_ERROR_PAUSE_MS = 1000; // between reads that keep failing

// Sleeps up to ms, returning early once running drops.
void waitWhileRunning(Works* works, int64_t ms)
{
    const int64_t end = monoMillis() + ms;
    while (works->running) {
        const int64_t left = end - monoMillis();
        if (left <= 0)
            return;
        sleepMs(std::min<int64_t>(left, WAIT_SLICE_MS));
    }
}

// The first device matching the keyboard pattern ("" when none).
std::string findKeyboard()
{
    const std::string pattern = mapPath("/dev/input/by-id/*-event-kbd");
    glob_t found{};
    std::string first;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        first = found.gl_pathv[0];
    globfree(&found);
    return first;
}

// Looks for the keyboard until it opens or running drops; returns the descriptor or -1.
int openKeyboard(Works* works, std::string& path)
{
    while (works->running) {
        path = findKeyboard();
        if (!path.empty()) {
            // Non-blocking, so a FIFO without a writer cannot hold the thread in open.
            const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                logSys(LOG_INFO, "Keyboard opened");
                logErr("Keyboard opened\n");
                // Its keys must not reach the console; a FIFO cannot be grabbed and needs not.
                ioctl(fd, EVIOCGRAB, 1);
                runShell("stty -echo");
                return fd;
            }
            const int err = errno;
            logSys(LOG_ERR, "Cannot open %s, error %d -%s", path.c_str(), err, strerror(err));
            logErr("Cannot open %s, error %d -%s\n", path.c_str(), err, strerror(err));
        }
        waitWhileRunning(works, KEYBOARD_RETRY_MS);
    }
    return -1;
}

enum class KeyOutcome { Continue, Exit };

KeyOutcome handleKey(Works* works, int code)
{
    switch (code) {
    case KEY_SYSRQ:
        logSys(LOG_INFO, "launching screenshot");
        logErr("launching screenshot\n");
        runShell("/usr/bin/fbgrab /tmp/screen.png >/dev/null 2>&1 </dev/null");
        logSys(LOG_INFO, "launched screenshot");
        logErr("launched screenshot\n");
        return KeyOutcome::Continue;
    case KEY_F12:
        logSys(LOG_INFO, "Exited by KEY_F12");
        works->running = 0;
        return KeyOutcome::Exit;
    case KEY_F11:
        logSys(LOG_INFO, "Save setup");
        writeSetup(works);
        return KeyOutcome::Continue;
    case KEY_F10:
        RemoteConnection();
        works->svcFlags |= 2;
        return KeyOutcome::Continue;
    default:
        return KeyOutcome::Continue;
    }
}

enum class ReadOutcome { Stopped, Exit, Gone };

// Reads events until running drops, F12 is pressed or the device goes away.
ReadOutcome readKeys(Works* works, int fd, const std::string& path)
{
    KeyEventBuffer events;
    std::array<uint8_t, KEY_EVENT_BYTES * 8> data{};
    while (works->running) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, READ_WAIT_MS) <= 0)
            continue;
        const ssize_t n = read(fd, data.data(), data.size());
        if (n == 0)
            return ReadOutcome::Gone;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            const int err = errno;
            logSys(LOG_ERR, "error reading %s, error %d -%s", path.c_str(), err, strerror(err));
            if (err == ENODEV)
                return ReadOutcome::Gone;
            waitWhileRunning(works, READ_ERROR_PAUSE_MS);
            continue;
        }
        for (int code : takeKeyPresses(events, std::span(data.data(), static_cast<size_t>(n)))) {
            if (handleKey(works, code) == KeyOutcome::Exit)
                return ReadOutcome::Exit;
        }
    }
    return ReadOutcome::Stopped;
}

} // namespace

void RemoteConnection()
{
    logErr("launching ssh\n");
    logSys(LOG_INFO, "launching ssh");
    runShell("/opt/sshshell");
    logSys(LOG_INFO, "launched ssh");
}

void* keyb(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    logSys(LOG_INFO, "Keyboard function entered");
    logErr("keyb open..\n");
    std::string path;
    for (;;) {
        const int fd = openKeyboard(works, path);
        if (fd < 0)
            break;
        logSys(LOG_INFO, "Continuous keyboard loop started, please end using Control C");
        logErr("Continuous keyboard loop started, please end using Control C\n");
        const ReadOutcome outcome = readKeys(works, fd, path);
        close(fd);
        if (outcome == ReadOutcome::Exit) {
            runShell("/bin/stty sane");
            runShell("/usr/bin/tput clear");
            return nullptr;
        }
        if (outcome == ReadOutcome::Stopped)
            break;
        // The device went away (unplugged, or the FIFO's writer closed): look again later.
        logSys(LOG_ERR, "Keyboard %s gone", path.c_str());
        waitWhileRunning(works, KEYBOARD_RETRY_MS);
    }
    runShell("stty sane");
    return nullptr;
}
