#pragma once
// The line settings a device of the simulated unit needs on its serial port. Pseudo-
// terminals carry whatever the controller sets and ignore it, so each model checks the
// termios of its line before it takes or sends bytes, and refuses the line (nothing crosses
// it, either way) while they are wrong, as a real device would only see garbage then.
//
//   board link, maker's transceiver, CAT port   115200 baud, 8 data bits, no parity, 1 stop bit
//   FT-817                                      38400 baud, 8 data bits, no parity, 2 stop bits
// and in every case raw: no line editing, echo or signals, no output processing, no input
// translation (CR/NL, stripping, flow control).
#include <mutex>
#include <string>
#include <termios.h>

namespace sim {

struct LineNeeds {
    speed_t speed;
    bool twoStopBits;
};

constexpr LineNeeds kLine115200{B115200, false};
constexpr LineNeeds kLineFt817{B38400, true};

// "" when the settings are what the device needs, else what is wrong ("speed 9600, needs
// 38400; 1 stop bit, needs 2").
std::string lineSettingsProblem(const termios& line, const LineNeeds& needs);

// One port's check, logged once each time its verdict changes (to standard error, and kept
// for tests): lines are read from any descriptor of the pseudo-terminal (its master too).
class LineGuard {
public:
    explicit LineGuard(std::string name) : name_(std::move(name)) {}
    // True when the line may be used now (called by the port's own thread).
    bool accept(int fd, const LineNeeds& needs);
    // The last refusal ("" while none has been seen) and how many times the verdict turned
    // to refused; any thread.
    std::string lastProblem() const;
    unsigned refusals() const;

private:
    std::string name_;
    std::string current_;  // the port thread's own
    mutable std::mutex mutex_;
    std::string lastProblem_;
    unsigned refusals_ = 0;
};

} // namespace sim
