#include "platform/shell.h"

#include "platform/paths.h"

#include "platform/clock.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int runShell(std::string_view command)
{
    const std::string mapped = mapCommand(command);
    errno = 0;
    int status = std::system(mapped.c_str());
    if (status != 0 && errno == 0)
        errno = EIO;
    return status;
}

std::string readShell(std::string_view command)
{
    const std::string mapped = mapCommand(command);
    std::string out;
    FILE* pipe = popen(mapped.c_str(), "r");
    if (!pipe)
        return out;
    std::array<char, 256> chunk{};
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        out.append(chunk.data(), n);
    pclose(pipe);
    return out;
}

namespace {

// Spawns "/bin/sh -c command" in a new process group, its standard output on a pipe and
// its standard input on /dev/null. Returns the child, or -1 (outFd untouched).
pid_t spawnShell(const std::string& command, int& outFd)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return -1;
    }
    outFd = pipeFds[0];
    return pid;
}

} // namespace

ShellOutcome readShellWithin(std::string_view command, int timeoutMs, std::string& out)
{
    out.clear();
    int fd = -1;
    const pid_t pid = spawnShell(mapCommand(command), fd);
    if (pid < 0)
        return ShellOutcome::Failed;
    const int64_t deadline = monoMillis() + timeoutMs;
    bool timedOut = false;
    std::array<char, 256> chunk{};
    for (;;) {
        const int64_t left = deadline - monoMillis();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(chunk.data(), static_cast<size_t>(n));
    }
    close(fd);
    // A shell that closed its output may still be running: it too has until the deadline.
    int status = 0;
    pid_t reaped = 0;
    while (!timedOut && (reaped = waitpid(pid, &status, WNOHANG)) == 0) {
        if (monoMillis() >= deadline)
            timedOut = true;
        else
            sleepMs(5);
    }
    if (timedOut) {
        kill(-pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return ShellOutcome::TimedOut;
    }
    if (reaped < 0)
        return ShellOutcome::Failed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ShellOutcome::Done : ShellOutcome::Failed;
}
