#include "transceiver_ports.h"
#include "thread_name.h"

#include "platform/clock.h"
#include "root_builder.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace sim {

namespace {

// Bytes kept for a line the controller does not read; beyond them new messages are dropped
// whole, as a transceiver's messages are lost on a line nobody listens to.
constexpr size_t kBacklogLimit = 8192;

std::string readAll(int fd)
{
    std::string in;
    char buf[1024];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        in.append(buf, static_cast<size_t>(n));
    return in;
}

void flush(int fd, std::string& out)
{
    while (!out.empty()) {
        const ssize_t n = ::write(fd, out.data(), out.size());
        if (n <= 0)
            return;
        out.erase(0, static_cast<size_t>(n));
    }
}

double period(double perSecond)
{
    return perSecond > 0 ? 1.0 / perSecond : 0;
}

} // namespace

TransceiverPorts::TransceiverPorts(const std::string& root) : root_(root)
{
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2 failed");
    serial_ = std::make_unique<Pty>();
    cat_ = std::make_unique<Pty>();
    serial_->link(rootPath(root, "dev/ttyUSB1"));
    cat_->link(rootPath(root, "dev/DODUVOV0"));
    catLog_.openFile(rootPath(root, "sim/cat.log"));
    running_ = true;
    thread_ = std::thread([this] {
        nameThisThread("sim-trx");
        run();
    });
}

TransceiverPorts::~TransceiverPorts()
{
    stop();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

void TransceiverPorts::stop()
{
    if (!running_.exchange(false))
        return;
    const char c = 'q';
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    thread_.join();
}

void TransceiverPorts::setConnected(SerialTransceiver which)
{
    std::lock_guard lock(mutex_);
    connected_ = which;
}

SerialTransceiver TransceiverPorts::connected() const
{
    std::lock_guard lock(mutex_);
    return connected_;
}

void TransceiverPorts::setRates(double parametersPerSecond, double spectraPerSecond)
{
    {
        std::lock_guard lock(mutex_);
        parameterPeriod_ = period(parametersPerSecond);
        spectrumPeriod_ = period(spectraPerSecond);
    }
    const char c = 'r';
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
}

void TransceiverPorts::setPlugged(TrxPort port, bool plugged)
{
    (port == TrxPort::Serial ? serialWanted_ : catWanted_) = plugged;
    const char c = 'p';
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
}

bool TransceiverPorts::plugged(TrxPort port) const
{
    return port == TrxPort::Serial ? serialPlugged_ : catPlugged_;
}

void TransceiverPorts::cutMidMessage()
{
    std::lock_guard lock(mutex_);
    cutPending_ = true;
}

void TransceiverPorts::resume()
{
    std::lock_guard lock(mutex_);
    cutPending_ = false;
    paused_ = false;
}

// Pulls or plugs the adapters as asked (the thread's own pseudo-terminals). A pulled
// adapter takes with it whatever was still on its way.
void TransceiverPorts::applyPlugs()
{
    const auto apply = [&](std::unique_ptr<Pty>& pty, bool wanted, std::atomic<bool>& state, const char* name) {
        if (wanted == static_cast<bool>(pty))
            return;
        if (wanted) {
            pty = std::make_unique<Pty>();
            pty->link(rootPath(root_, name));
        } else {
            pty.reset();
        }
        state = wanted;
    };
    const bool serialWas = static_cast<bool>(serial_);
    apply(serial_, serialWanted_, serialPlugged_, "dev/ttyUSB1");
    if (serialWas != static_cast<bool>(serial_)) {
        serialOut_.clear();
        std::lock_guard lock(mutex_);
        ft817Late_.clear();
    }
    const bool catWas = static_cast<bool>(cat_);
    apply(cat_, catWanted_, catPlugged_, "dev/DODUVOV0");
    if (catWas != static_cast<bool>(cat_)) {
        catOut_.clear();
        catOutBytes_ = 0;
    }
}

void TransceiverPorts::setDriveHook(std::function<void(double)> hook)
{
    std::lock_guard hookLock(hookMutex_);
    driveHook_ = std::move(hook);
    std::lock_guard lock(mutex_);
    lastDrive_ = -1;  // the next notification tells the new hook the present drive
}

void TransceiverPorts::maker(const std::function<void(MakerTransceiver&)>& change)
{
    {
        std::lock_guard lock(mutex_);
        change(maker_);
    }
    notifyDrive();
}

void TransceiverPorts::ft817(const std::function<void(Ft817&)>& change)
{
    std::lock_guard lock(mutex_);
    change(ft817_);
}

void TransceiverPorts::catPort(const std::function<void(CatUsbPort&)>& change)
{
    std::lock_guard lock(mutex_);
    change(catPort_);
}

void TransceiverPorts::catSend(const std::vector<std::string>& pieces)
{
    {
        std::lock_guard lock(mutex_);
        catToSend_.insert(catToSend_.end(), pieces.begin(), pieces.end());
    }
    const char c = 's';
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
}

MakerTransceiver TransceiverPorts::makerState() const
{
    std::lock_guard lock(mutex_);
    return maker_;
}

Ft817 TransceiverPorts::ft817State() const
{
    std::lock_guard lock(mutex_);
    return ft817_;
}

CatUsbPort TransceiverPorts::catPortState() const
{
    std::lock_guard lock(mutex_);
    return catPort_;
}

void TransceiverPorts::notifyDrive()
{
    std::lock_guard hookLock(hookMutex_);
    double drive;
    {
        std::lock_guard lock(mutex_);
        drive = connected_ == SerialTransceiver::Maker ? maker_.drivePower() : 0;
        if (drive == lastDrive_)
            return;
        lastDrive_ = drive;
    }
    if (driveHook_)
        driveHook_(drive);
}

// The maker's transceiver's messages that are due (called under the lock).
void TransceiverPorts::stream(double now, std::string& out)
{
    if (connected_ != SerialTransceiver::Maker || paused_)
        return;
    const auto due = [&](double& next, double every) {
        if (every <= 0 || now < next)
            return false;
        next = std::max(next + every, now);
        return true;
    };
    if (due(nextParameters_, parameterPeriod_) && out.size() < kBacklogLimit) {
        const std::string message = maker_.nextParameterMessage();
        if (cutPending_) {
            // Half a message, then nothing: the transceiver switched off mid-frame.
            out += message.substr(0, message.size() / 2);
            cutPending_ = false;
            paused_ = true;
            return;
        }
        out += message;
        ++sent_;
    }
    if (due(nextSpectrum_, spectrumPeriod_) && out.size() < kBacklogLimit) {
        out += maker_.spectrumMessage();
        ++sent_;
    }
}

// Pieces queued after those still waiting, each kCatPieceGapSeconds after the one
// before (the thread's own queue).
void TransceiverPorts::queueCatPieces(double now, const std::vector<std::string>& pieces)
{
    double due = catOut_.empty() ? now : std::max(now, catOut_.back().due + kCatPieceGapSeconds);
    for (const std::string& piece : pieces) {
        if (catOutBytes_ + piece.size() > kBacklogLimit)
            return;
        catOut_.push_back({piece, due});
        catOutBytes_ += piece.size();
        due += kCatPieceGapSeconds;
    }
}

// Writes the pieces that are due, each logged as it went on the line.
void TransceiverPorts::flushCat(double now)
{
    while (!catOut_.empty() && catOut_.front().due <= now) {
        CatPiece& piece = catOut_.front();
        const ssize_t n = ::write(catFd(), piece.bytes.data(), piece.bytes.size());
        if (n <= 0)
            return;
        catLog_.add({monoSeconds(), false, piece.bytes.substr(0, static_cast<size_t>(n)), monoSeconds()});
        catOutBytes_ -= static_cast<size_t>(n);
        piece.bytes.erase(0, static_cast<size_t>(n));
        if (!piece.bytes.empty())
            return;
        catOut_.pop_front();
    }
}

void TransceiverPorts::run()
{
    while (running_) {
        applyPlugs();
        const int serialFd = this->serialFd();
        const int catFd = this->catFd();
        const double now = monoSeconds();
        int timeoutMs = 200;
        std::vector<std::string> unasked;
        bool makerStreams = false;
        {
            std::lock_guard lock(mutex_);
            unasked.swap(catToSend_);
            makerStreams = connected_ == SerialTransceiver::Maker && !paused_;
            if (!ft817Late_.empty() && now >= ft817LateDue_) {
                serialOut_ += ft817Late_;
                ft817Late_.clear();
            } else if (!ft817Late_.empty()) {
                timeoutMs = std::min(timeoutMs, static_cast<int>((ft817LateDue_ - now) * 1000) + 1);
            }
        }
        // The maker's transceiver streams only on a line set as it needs; no adapter, no line.
        if (makerStreams && serialFd >= 0 && serialGuard_.accept(serialFd, kLine115200)) {
            std::lock_guard lock(mutex_);
            stream(now, serialOut_);
            for (const auto& [next, every] : {std::pair{nextParameters_, parameterPeriod_},
                                              std::pair{nextSpectrum_, spectrumPeriod_}})
                if (every > 0)
                    timeoutMs = std::min(timeoutMs, static_cast<int>(std::max(0.0, next - now) * 1000) + 1);
        }
        if (catFd >= 0) {
            queueCatPieces(now, unasked);
            flushCat(monoSeconds());
        }
        if (serialFd >= 0)
            flush(serialFd, serialOut_);
        const bool catDue = !catOut_.empty() && catOut_.front().due <= monoSeconds();
        if (!catOut_.empty() && !catDue)
            timeoutMs = std::min(timeoutMs, static_cast<int>((catOut_.front().due - monoSeconds()) * 1000) + 1);

        // A descriptor of -1 (an adapter pulled) is left out by poll.
        pollfd fds[3] = {{serialFd, static_cast<short>(POLLIN | (serialOut_.empty() ? 0 : POLLOUT)), 0},
                         {catFd, static_cast<short>(POLLIN | (catDue ? POLLOUT : 0)), 0},
                         {wake_[0], POLLIN, 0}};
        if (poll(fds, 3, timeoutMs) < 0 && errno != EINTR)
            break;
        if (fds[2].revents & POLLIN)
            readAll(wake_[0]);
        if (fds[0].revents & POLLIN) {
            const std::string in = readAll(serialFd);
            bool ft817 = false;
            {
                std::lock_guard lock(mutex_);
                ft817 = connected_ == SerialTransceiver::Ft817;
            }
            // Bytes sent at the wrong line settings reach the transceiver as garbage.
            if (serialGuard_.accept(serialFd, ft817 ? kLineFt817 : kLine115200)) {
                std::lock_guard lock(mutex_);
                if (connected_ == SerialTransceiver::Maker) {
                    maker_.receive(in);
                } else if (connected_ == SerialTransceiver::Ft817 && serialOut_.size() < kBacklogLimit) {
                    serialOut_ += ft817_.receive(in);
                    const std::string late = ft817_.takeLate();
                    if (!late.empty()) {
                        ft817Late_ += late;
                        ft817LateDue_ = monoSeconds() + kFt817LateSeconds;
                    }
                }
            }
            notifyDrive();
        }
        if (fds[1].revents & POLLIN) {
            const double at = monoSeconds();
            const std::string in = readAll(catFd);
            if (!in.empty())
                catLog_.add({at, true, in, monoSeconds()});
            if (catGuard_.accept(catFd, kLine115200)) {
                std::vector<std::string> answer;
                {
                    std::lock_guard lock(mutex_);
                    answer = catPort_.receive(in);
                }
                queueCatPieces(monoSeconds(), answer);
            }
        }
        // A line whose other side reports an error is not polled in a tight loop.
        if ((fds[0].revents | fds[1].revents) & (POLLHUP | POLLERR)) {
            pollfd w{wake_[0], POLLIN, 0};
            poll(&w, 1, 20);
        }
    }
}

} // namespace sim
