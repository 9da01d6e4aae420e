#pragma once
// The real controller binary run as a child process on a simulated root, the way
// end-to-end tests and `ampsim --run-ampctl` start it:
//   environment: the parent's, plus AMPCTL_ROOT=<root> and
//                PATH=<root>/bin:<root>/usr/bin:<parent's PATH> (the stand-ins come first),
//                ALSA_CONFIG_PATH=<root>/sim/asound.conf (the simulated sound interface)
//                LD_LIBRARY_PATH=<root>/sim/lib[:<parent's>] (the receiver's libusb stand-in)
//   working directory: the given one (the screen pictures live there: <build>/pictures)
//   standard input: /dev/null; standard output: inherited
//   standard error: captured through a pipe, kept in memory and written to a file
//                   (<root>/sim/ampctl.stderr by default), optionally echoed to ours
//   process group: its own, so a Ctrl-C at the terminal reaches the simulator only and
//                  the simulator stops the controller first (SIGTERM), in order.
// The destructor kills (SIGKILL) and reaps a child still running.
//
// A child built with a sanitizer reports into its stderr and goes on (ThreadSanitizer with
// halt_on_error=0). Such reports must not pass unseen when a test never looks at that
// stderr: sanitizerReports() gives them, and the destructor hands them, once the child's
// stderr is complete, to the handler set with setSanitizerReportHandler (the tests set one
// that fails the running test).
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

// The report blocks of sanitizers (ThreadSanitizer, AddressSanitizer, LeakSanitizer,
// UndefinedBehaviorSanitizer) in a program's stderr text, in order; "" when there is none.
std::string sanitizerReportsIn(std::string_view text);

// Called by every ControllerProcess at its end with the binary's path and its reports,
// when there are any. Set it before starting children; nullptr removes it.
using SanitizerReportHandler = void (*)(const std::string& binary, const std::string& reports);
void setSanitizerReportHandler(SanitizerReportHandler handler);

struct ControllerOptions {
    std::string binary;     // path of ampctl
    std::string root;       // the simulated root (AMPCTL_ROOT)
    std::string workDir;    // working directory of the child
    std::string stderrFile; // "" gives <root>/sim/ampctl.stderr
    bool echoStderr = false; // also copy the child's stderr to ours
    std::vector<std::pair<std::string, std::string>> extraEnv; // more variables (override)
    std::vector<std::string> args; // arguments after argv[0] (the program ignores them)
};

class ControllerProcess {
public:
    // Starts the child at once; throws std::runtime_error when it cannot be started
    // (a failing exec shows as exit status 127 with a line on its stderr instead).
    ControllerProcess(const std::string& binary, const std::string& root, const std::string& workDir);
    explicit ControllerProcess(const ControllerOptions& options);
    ~ControllerProcess();
    ControllerProcess(const ControllerProcess&) = delete;
    ControllerProcess& operator=(const ControllerProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();              // not yet exited
    bool terminate();            // SIGTERM; false when it has already exited
    bool interrupt();            // SIGINT
    void kill();                 // SIGKILL
    // Waits without spinning until the child exits or timeoutSeconds pass. Returns its
    // exit status (0..255), 128 + signal number when a signal ended it, -1 on timeout.
    int waitExit(double timeoutSeconds);
    // The status once it has exited (as waitExit), -1 while running.
    int exitStatus() const { return exitStatus_; }
    // Processor time (user and system) the child has used so far, in seconds; -1 when it
    // cannot be read.
    double cpuSeconds() const;

    // Everything the child wrote to its stderr so far.
    std::string stderrText() const;
    const std::string& stderrPath() const { return stderrPath_; }
    // Waits until the child's stderr has reached its end (the child and whatever it left
    // running closed it) and everything is in stderrText(), or the timeout.
    bool waitStderrEnd(double timeoutSeconds) const;
    // Waits until its stderr contains `text` (`occurrences` times), or the timeout.
    bool waitForStderr(std::string_view text, double timeoutSeconds, size_t occurrences = 1) const;
    // The sanitizer reports in its stderr so far ("" when none).
    std::string sanitizerReports() const { return sanitizerReportsIn(stderrText()); }

private:
    void start(const ControllerOptions& options);
    void readStderr();
    bool reap(bool block);

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int exitStatus_ = -1;
    int errPipe_ = -1;
    int errFile_ = -1;
    bool echo_ = false;
    std::string binary_;
    std::string stderrPath_;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable grew_;
    std::string stderr_;
    bool readerDone_ = false;
};

} // namespace sim
