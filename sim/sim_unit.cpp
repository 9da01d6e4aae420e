#include "sim_unit.h"
#include "thread_name.h"

#include "pty.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace sim {

std::string_view frameText(std::string_view frame)
{
    return frame.size() >= 2 ? frame.substr(2) : std::string_view();
}

SimUnit::SimUnit(const std::string& rootDir, SimOptions options) : options_(options)
{
    try {
        start(rootDir);
    } catch (...) {
        // Threads already started are stopped before the exception leaves.
        running_ = true;
        stop();
        throw;
    }
}

void SimUnit::start(const std::string& rootDir)
{
    root_ = buildRoot(rootDir);
    if (options_.writeWireLogFile)
        wire_.openFile(wireLogPath());
    wire_.keepEntries(options_.keepWireLog);

    boardPty_ = std::make_unique<Pty>();
    usb0Pty_ = std::make_unique<Pty>();

    panel_ = std::make_unique<FrontPanel>(root_);
    sound_ = std::make_unique<SoundCard>(root_);
    usb_ = std::make_unique<UsbReceiver>(root_);

    board_ = std::make_unique<AmpBoard>(wire_);
    board_->setPacing(options_.pacing);
    board_->start(boardPty_->master());

    if (pipe2(drainWake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2 failed");
    running_ = true;
    drainThread_ = std::thread([this] {
        nameThisThread("sim-drain");
        drainLoop();
    });

    // The links last: when they appear, the lines behind them are served.
    boardPty_->link(path("dev/ttyAMA0"));
    usb0Pty_->link(path("dev/ttyUSB0"));
    transceivers_ = std::make_unique<TransceiverPorts>(root_);
    transceivers_->keepCatLog(options_.keepWireLog);
}

SimUnit::~SimUnit()
{
    stop();
}

void SimUnit::stop()
{
    if (!running_.exchange(false))
        return;
    if (board_)
        board_->stop();
    if (drainThread_.joinable() && drainWake_[1] >= 0) {
        const char c = 'q';
        [[maybe_unused]] ssize_t n = ::write(drainWake_[1], &c, 1);
        drainThread_.join();
    }
    for (int& fd : drainWake_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    panel_.reset();
    sound_.reset();
    // The links go with their pseudo-terminals (only when they still point at them).
    boardPty_.reset();
    usb0Pty_.reset();
    transceivers_.reset();
}

void SimUnit::drainLoop()
{
    // dev/ttyUSB0 has no model: whatever the controller writes there is read and dropped,
    // so its writes never block on a full line.
    char buf[512];
    while (running_) {
        pollfd fds[2] = {{usb0Pty_->master(), POLLIN, 0}, {drainWake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (fds[0].revents & POLLIN) {
            while (::read(fds[0].fd, buf, sizeof buf) > 0) {
            }
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            pollfd w{drainWake_[0], POLLIN, 0};
            poll(&w, 1, 20);
        }
    }
}

bool SimUnit::waitForFrames(const std::function<bool(const std::vector<WireEntry>&)>& pred,
                            double timeoutSeconds)
{
    return wire_.waitFor(pred, timeoutSeconds);
}

bool SimUnit::waitForFrames(size_t count, double timeoutSeconds)
{
    return wire_.waitFor([count](const std::vector<WireEntry>& e) { return e.size() >= count; },
                         timeoutSeconds);
}

bool SimUnit::waitForFrame(std::string_view frame, bool toBoard, double timeoutSeconds,
                           size_t occurrences, bool matchText)
{
    return wire_.waitFor(
        [&](const std::vector<WireEntry>& entries) {
            size_t n = 0;
            for (const WireEntry& e : entries) {
                if (e.toBoard != toBoard)
                    continue;
                if ((matchText ? frameText(e.frame) : std::string_view(e.frame)) == frame)
                    ++n;
            }
            return n >= occurrences;
        },
        timeoutSeconds);
}

std::string SimUnit::boardPtyName() const
{
    return boardPty_ ? boardPty_->slaveName() : std::string();
}

} // namespace sim
