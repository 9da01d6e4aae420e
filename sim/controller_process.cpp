#include "controller_process.h"
#include "proc_stat.h"
#include "thread_name.h"

#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sim {

namespace {

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

void writeAll(int fd, const char* data, size_t len)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        len -= static_cast<size_t>(n);
    }
}

// Leaves the child of a fork whose exec failed. Straight to the kernel: _exit is wrapped by
// ThreadSanitizer, whose exit checks would report the threads of the parent's copy.
[[noreturn]] void exitChild(int status)
{
    syscall(SYS_exit_group, status);
    _exit(status);
}

int decodeStatus(int st)
{
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    if (WIFSIGNALED(st))
        return 128 + WTERMSIG(st);
    return -1;
}

std::atomic<SanitizerReportHandler> reportHandler{nullptr};

} // namespace

std::string sanitizerReportsIn(std::string_view text)
{
    // A report starts on the line of one of these texts and ends at the rule line that
    // closes it (ThreadSanitizer, AddressSanitizer) or at the next report or the end.
    static constexpr std::string_view starts[] = {"WARNING: ThreadSanitizer:", "ERROR: AddressSanitizer:",
                                                  "ERROR: LeakSanitizer:", ": runtime error:"};
    constexpr std::string_view rule = "==================";
    const auto nextStart = [&](size_t from) {
        size_t at = std::string_view::npos;
        for (std::string_view start : starts)
            at = std::min(at, text.find(start, from));
        return at;
    };
    std::string out;
    for (size_t at = nextStart(0); at != std::string_view::npos;) {
        const size_t lineStart = text.rfind('\n', at);
        const size_t begin = lineStart == std::string_view::npos ? 0 : lineStart + 1;
        const size_t next = nextStart(at + 1);
        const size_t end = std::min({text.find(rule, at), next, text.size()});
        out.append(text.substr(begin, end - begin));
        at = next;
    }
    return out;
}

void setSanitizerReportHandler(SanitizerReportHandler handler)
{
    reportHandler = handler;
}

ControllerProcess::ControllerProcess(const std::string& binary, const std::string& root,
                                     const std::string& workDir)
{
    ControllerOptions o;
    o.binary = binary;
    o.root = root;
    o.workDir = workDir;
    start(o);
}

ControllerProcess::ControllerProcess(const ControllerOptions& options)
{
    start(options);
}

ControllerProcess::~ControllerProcess()
{
    if (pid_ > 0 && exitStatus_ < 0) {
        kill();
        waitExit(10.0);
    }
    if (reader_.joinable())
        reader_.join();
    if (const SanitizerReportHandler handler = reportHandler.load()) {
        const std::string reports = sanitizerReports();
        if (!reports.empty())
            handler(binary_, reports);
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
    if (errPipe_ >= 0)
        ::close(errPipe_);
    if (errFile_ >= 0)
        ::close(errFile_);
}

void ControllerProcess::start(const ControllerOptions& o)
{
    echo_ = o.echoStderr;
    stderrPath_ = o.stderrFile.empty() ? o.root + "/sim/ampctl.stderr" : o.stderrFile;
    errFile_ = ::open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<std::string> env;
    const char* parentPath = std::getenv("PATH");
    for (char** e = environ; e && *e; ++e) {
        const std::string kv = *e;
        const std::string key = kv.substr(0, kv.find('='));
        if (key == "AMPCTL_ROOT" || key == "PATH" || key == "ALSA_CONFIG_PATH" || key == "LD_LIBRARY_PATH")
            continue;
        bool overridden = false;
        for (const auto& [k, v] : o.extraEnv)
            overridden = overridden || k == key;
        if (!overridden)
            env.push_back(kv);
    }
    env.push_back("AMPCTL_ROOT=" + o.root);
    env.push_back("ALSA_CONFIG_PATH=" + o.root + "/sim/asound.conf");  // the root's sound interface
    // The unit's own libraries (the receiver's libusb stand-in) come first.
    const char* parentLibs = std::getenv("LD_LIBRARY_PATH");
    env.push_back("LD_LIBRARY_PATH=" + o.root + "/sim/lib" + (parentLibs && *parentLibs ? std::string(":") + parentLibs : ""));
    env.push_back("PATH=" + o.root + "/bin:" + o.root + "/usr/bin:"
                  + (parentPath && *parentPath ? parentPath : "/usr/sbin:/usr/bin:/sbin:/bin"));
    for (const auto& [k, v] : o.extraEnv)
        env.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    // Relative paths are taken from our working directory, not the child's.
    std::string binary = o.binary;
    if (!binary.empty() && binary.front() != '/') {
        char buf[PATH_MAX];
        if (realpath(binary.c_str(), buf))
            binary = buf;
    }
    binary_ = binary;
    std::string workDir = o.workDir;
    if (!workDir.empty() && workDir.front() != '/') {
        char buf[PATH_MAX];
        if (realpath(workDir.c_str(), buf))
            workDir = buf;
    }

    std::vector<std::string> args;
    args.push_back(binary);
    args.insert(args.end(), o.args.begin(), o.args.end());
    std::vector<char*> argv;
    for (auto& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const std::string chdirFail = "ampsim: cannot enter working directory " + workDir + "\n";
    const std::string execFail = "ampsim: cannot run " + binary + "\n";

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    const pid_t pid = fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        if (devNull >= 0)
            ::close(devNull);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // Own process group: a terminal's Ctrl-C reaches the simulator, which stops us in order.
        setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        if (devNull >= 0)
            dup2(devNull, 0);
        dup2(pipeFds[1], 2);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
            writeAll(2, chdirFail.data(), chdirFail.size());
            exitChild(127);
        }
        execve(argv[0], argv.data(), envp.data());
        writeAll(2, execFail.data(), execFail.size());
        exitChild(127);
    }
    pid_ = pid;
    ::close(pipeFds[1]);
    if (devNull >= 0)
        ::close(devNull);
    errPipe_ = pipeFds[0];
    pidfd_ = openPidfd(pid_);
    reader_ = std::thread([this] {
        nameThisThread("sim-ctl-stderr");
        readStderr();
    });
}

void ControllerProcess::readStderr()
{
    char buf[4096];
    double goneAt = -1;
    for (;;) {
        pollfd p{errPipe_, POLLIN, 0};
        const int r = poll(&p, 1, 100);
        if (r > 0) {
            const ssize_t n = ::read(errPipe_, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break; // every writer closed: the child and anything it left behind
            if (errFile_ >= 0)
                writeAll(errFile_, buf, static_cast<size_t>(n));
            if (echo_)
                writeAll(2, buf, static_cast<size_t>(n));
            {
                std::lock_guard lock(mutex_);
                stderr_.append(buf, static_cast<size_t>(n));
            }
            grew_.notify_all();
            continue;
        }
        // A grandchild may hold the pipe open after the child is gone: give it a second.
        std::lock_guard lock(mutex_);
        if (exitStatus_ >= 0) {
            if (goneAt < 0)
                goneAt = monoSeconds();
            else if (monoSeconds() - goneAt > 1.0)
                break;
        }
    }
    {
        std::lock_guard lock(mutex_);
        readerDone_ = true;
    }
    grew_.notify_all();
}

bool ControllerProcess::reap(bool block)
{
    if (exitStatus_ >= 0)
        return true;
    int st = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &st, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        std::lock_guard lock(mutex_);
        exitStatus_ = decodeStatus(st);
        return true;
    }
    if (r < 0) { // not our child any more (reaped elsewhere): count it as gone
        std::lock_guard lock(mutex_);
        exitStatus_ = 255;
        return true;
    }
    return false;
}

bool ControllerProcess::running()
{
    return !reap(false);
}

bool ControllerProcess::terminate()
{
    if (!running())
        return false;
    return ::kill(pid_, SIGTERM) == 0;
}

bool ControllerProcess::interrupt()
{
    if (!running())
        return false;
    return ::kill(pid_, SIGINT) == 0;
}

void ControllerProcess::kill()
{
    if (running())
        ::kill(pid_, SIGKILL);
}

int ControllerProcess::waitExit(double timeoutSeconds)
{
    const double deadline = monoSeconds() + (timeoutSeconds < 0 ? 0 : timeoutSeconds);
    while (!reap(false)) {
        const double left = deadline - monoSeconds();
        if (left <= 0)
            return -1;
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left * 1000.0) + 1);
        } else {
            sleepMs(left > 0.005 ? 5 : 1); // no pidfd on this kernel: a gentle poll
        }
    }
    return exitStatus_;
}

double ControllerProcess::cpuSeconds() const
{
    return procCpuSeconds("/proc/" + std::to_string(pid_) + "/stat");
}

std::string ControllerProcess::stderrText() const
{
    std::lock_guard lock(mutex_);
    return stderr_;
}

bool ControllerProcess::waitStderrEnd(double timeoutSeconds) const
{
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(timeoutSeconds < 0 ? 0 : timeoutSeconds));
    std::unique_lock lock(mutex_);
    return grew_.wait_until(lock, deadline, [&] { return readerDone_; });
}

bool ControllerProcess::waitForStderr(std::string_view text, double timeoutSeconds,
                                      size_t occurrences) const
{
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(timeoutSeconds < 0 ? 0 : timeoutSeconds));
    auto count = [&] {
        size_t n = 0;
        for (size_t pos = stderr_.find(text); pos != std::string::npos && !text.empty();
             pos = stderr_.find(text, pos + text.size()))
            ++n;
        return n;
    };
    std::unique_lock lock(mutex_);
    return grew_.wait_until(lock, deadline, [&] { return count() >= occurrences || readerDone_; })
        && count() >= occurrences;
}

} // namespace sim
