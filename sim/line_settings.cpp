#include "line_settings.h"

#include <cstdio>

namespace sim {

namespace {

long baud(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return -static_cast<long>(speed);  // a code without a name here
    }
}

void add(std::string& out, const std::string& what)
{
    out += out.empty() ? what : "; " + what;
}

} // namespace

std::string lineSettingsProblem(const termios& line, const LineNeeds& needs)
{
    std::string out;
    const speed_t in = cfgetispeed(&line);
    const speed_t outSpeed = cfgetospeed(&line);
    if (outSpeed != needs.speed)
        add(out, "speed " + std::to_string(baud(outSpeed)) + ", needs " + std::to_string(baud(needs.speed)));
    else if (in != needs.speed && in != 0)  // an input speed of 0 follows the output speed
        add(out, "input speed " + std::to_string(baud(in)) + ", needs " + std::to_string(baud(needs.speed)));
    if ((line.c_cflag & CSIZE) != CS8)
        add(out, "not 8 data bits");
    if (line.c_cflag & PARENB)
        add(out, "parity on");
    if (static_cast<bool>(line.c_cflag & CSTOPB) != needs.twoStopBits)
        add(out, needs.twoStopBits ? "1 stop bit, needs 2" : "2 stop bits, needs 1");
    if (!(line.c_cflag & CREAD))
        add(out, "receiver off");
    if (line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN))
        add(out, "not raw (line editing, echo or signals on)");
    if (line.c_oflag & OPOST)
        add(out, "output processing on");
    if (line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | PARMRK))
        add(out, "input translated (CR/NL, stripping or flow control)");
    return out;
}

bool LineGuard::accept(int fd, const LineNeeds& needs)
{
    termios line{};
    const std::string problem = tcgetattr(fd, &line) == 0 ? lineSettingsProblem(line, needs) : std::string();
    if (problem != current_) {
        if (problem.empty()) {
            std::fprintf(stderr, "ampsim: %s: line settings accepted\n", name_.c_str());
        } else {
            std::fprintf(stderr, "ampsim: %s: line settings refused: %s\n", name_.c_str(), problem.c_str());
            std::lock_guard lock(mutex_);
            lastProblem_ = problem;
            ++refusals_;
        }
        current_ = problem;
    }
    return problem.empty();
}

std::string LineGuard::lastProblem() const
{
    std::lock_guard lock(mutex_);
    return lastProblem_;
}

unsigned LineGuard::refusals() const
{
    std::lock_guard lock(mutex_);
    return refusals_;
}

} // namespace sim
