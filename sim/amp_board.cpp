#include "amp_board.h"
#include "thread_name.h"

#include "amplifier/crc8.h"
#include "amplifier/measurements.h"
#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <unistd.h>

namespace sim {

namespace {

// Longest run of bytes taken as one frame before it is dropped as noise (the controller's
// receive buffer is 500 bytes).
constexpr size_t kMaxFrame = 600;

uint8_t crcOf(std::string_view text)
{
    return Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string hex2(uint8_t v, bool upper)
{
    char buf[4];
    std::snprintf(buf, sizeof buf, upper ? "%02X" : "%02x", v);
    return buf;
}

// Sleeps until the monotonic time t (seconds on the monoSeconds() clock).
void sleepUntil(double t)
{
    const double now = monoSeconds();
    if (t <= now)
        return;
    const double d = t - now;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(d);
    ts.tv_nsec = static_cast<long>((d - static_cast<double>(ts.tv_sec)) * 1e9);
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

const char* faultName(FaultKind k)
{
    switch (k) {
    case FaultKind::Silence: return "silence";
    case FaultKind::Refuse: return "refusal";
    case FaultKind::WrongCrc: return "wrong CRC";
    case FaultKind::LowerCaseCrc: return "lower-case CRC";
    case FaultKind::UnknownKeyword: return "unknown keyword";
    case FaultKind::Split: return "split reply";
    case FaultKind::Garbage: return "garbage";
    }
    return "?";
}

} // namespace

// ---- Fault shortcuts ----

Fault Fault::silence(int count, std::string command)
{
    Fault f;
    f.kind = FaultKind::Silence;
    f.count = count;
    f.command = std::move(command);
    return f;
}

Fault Fault::refuse(char refusal, int count, std::string command)
{
    Fault f = silence(count, std::move(command));
    f.kind = FaultKind::Refuse;
    f.refusal = refusal;
    return f;
}

Fault Fault::wrongCrc(int count, std::string command)
{
    Fault f = silence(count, std::move(command));
    f.kind = FaultKind::WrongCrc;
    return f;
}

Fault Fault::lowerCaseCrc(int count, std::string command)
{
    Fault f = silence(count, std::move(command));
    f.kind = FaultKind::LowerCaseCrc;
    return f;
}

Fault Fault::unknownKeyword(std::string keyword, int count, std::string command)
{
    Fault f = silence(count, std::move(command));
    f.kind = FaultKind::UnknownKeyword;
    f.keyword = std::move(keyword);
    return f;
}

Fault Fault::split(int parts, int pauseMs, int count, std::string command)
{
    Fault f = silence(count, std::move(command));
    f.kind = FaultKind::Split;
    f.splitParts = parts;
    f.splitPauseMs = pauseMs;
    return f;
}

Fault Fault::garbageBytes(std::string bytes, int count, std::string command)
{
    Fault f = silence(count, std::move(command));
    f.kind = FaultKind::Garbage;
    f.garbage = std::move(bytes);
    return f;
}

// ---- Framing ----

std::string AmpBoard::frame(std::string_view text)
{
    return hex2(crcOf(text), true) + std::string(text);
}

bool AmpBoard::frameCrcOk(std::string_view f)
{
    if (f.size() < 3)
        return false;
    const int hi = charToInt(f[0]);
    const int lo = charToInt(f[1]);
    if (hi < 0 || lo < 0)
        return false;
    return crcOf(f.substr(2)) == static_cast<uint8_t>(hi * 16 + lo);
}

// ---- The board ----

AmpBoard::AmpBoard(WireLog& log) : log_(log) {}

AmpBoard::~AmpBoard()
{
    stop();
}

void AmpBoard::start(int masterFd)
{
    if (running_)
        return;
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2 failed");
    fd_ = masterFd;
    running_ = true;
    thread_ = std::thread([this] {
        nameThisThread("sim-board");
        run();
    });
}

void AmpBoard::stop()
{
    if (!thread_.joinable())
        return;
    running_ = false;
    const char c = 'q';
    [[maybe_unused]] ssize_t n = ::write(wakePipe_[1], &c, 1);
    thread_.join();
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    wakePipe_[0] = wakePipe_[1] = -1;
}

bool AmpBoard::serving() const
{
    return running_;
}

AmpBoardState& AmpBoard::state()
{
    return state_;
}

void AmpBoard::setReadings(const StatusReadings& r)
{
    state_.setReadings(r);
}

StatusReadings AmpBoard::readings() const
{
    return state_.readings();
}

void AmpBoard::setMeasuredFrequency(uint64_t hz)
{
    state_.setMeasuredFrequency(hz);
}

BoardSettings AmpBoard::settings() const
{
    return state_.settings();
}

void AmpBoard::injectFault(const Fault& fault)
{
    if (fault.count == 0)
        return;
    std::lock_guard lock(faultMutex_);
    faults_.push_back(fault);
}

void AmpBoard::clearFaults()
{
    std::lock_guard lock(faultMutex_);
    faults_.clear();
}

size_t AmpBoard::pendingFaults() const
{
    std::lock_guard lock(faultMutex_);
    return faults_.size();
}

void AmpBoard::setPacing(bool on)
{
    pacing_ = on;
}

bool AmpBoard::pacing() const
{
    return pacing_;
}

void AmpBoard::setReplyDelayMs(double ms)
{
    replyDelayMs_ = ms < 0 ? 0 : ms;
}

uint64_t AmpBoard::framesReceived() const
{
    return framesReceived_;
}

uint64_t AmpBoard::framesRejected() const
{
    return framesRejected_;
}

uint64_t AmpBoard::repliesSent() const
{
    return repliesSent_;
}

bool AmpBoard::takeFault(std::string_view keyword, Fault& out)
{
    std::lock_guard lock(faultMutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!it->command.empty() && it->command != keyword)
            continue;
        out = *it;
        if (it->count > 0 && --it->count == 0)
            faults_.erase(it);
        return true;
    }
    return false;
}

void AmpBoard::run()
{
    // Pacing sleeps of 87 us need a fine timer.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    std::string rx;
    double tFirst = 0;
    while (running_) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (fds[0].revents & POLLIN) {
            char buf[256];
            for (;;) {
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n <= 0)
                    break;
                if (!lineGuard_.accept(fd_, kLine115200)) {
                    rx.clear();  // garbage at the wrong line settings: nothing is taken
                    continue;
                }
                const double now = monoSeconds();
                for (ssize_t i = 0; i < n; ++i) {
                    if (rx.empty())
                        tFirst = now;
                    rx += buf[i];
                    if (buf[i] == ';') {
                        handleFrame(rx, tFirst);
                        rx.clear();
                    } else if (rx.size() >= kMaxFrame) {
                        framesReceived_++;
                        framesRejected_++;
                        log_.add({tFirst, true, rx, now});
                        log_.note("noise dropped (no ';' within 600 bytes)");
                        rx.clear();
                    }
                }
                // A short read took all there was: back to the poll rather than a read that
                // finds nothing.
                if (!running_ || static_cast<size_t>(n) < sizeof buf)
                    break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // No slave descriptor open (never while the simulator holds one): do not spin.
            pollfd w{wakePipe_[0], POLLIN, 0};
            poll(&w, 1, 20);
        }
    }
    running_ = false;
}

void AmpBoard::handleFrame(const std::string& received, double tFirst)
{
    framesReceived_++;
    std::string f = received;
    if (!frameCrcOk(f)) {
        // Noise before a good frame (a controller killed in the middle of a write, say):
        // take the longest good frame at the end, log the noise on its own.
        size_t start = 1;
        while (start + 3 <= f.size() && !frameCrcOk(std::string_view(f).substr(start)))
            ++start;
        if (start + 3 <= f.size()) {
            log_.add({tFirst, true, f.substr(0, start), tFirst});
            log_.note("noise before a frame");
            f = f.substr(start);
        } else {
            log_.add({tFirst, true, f, monoSeconds()});
            framesRejected_++;
            log_.note("frame ignored: CRC does not match");
            return;
        }
    }
    log_.add({tFirst, true, f, monoSeconds()});
    const std::string text = f.substr(2);
    const std::optional<std::string> reply = state_.execute(text);
    if (!reply) {
        framesRejected_++;
        log_.note("no reply: not a command");
        return;
    }
    // On the real line the board has the whole command only when its last byte arrived.
    double notBefore = pacing_ ? tFirst + static_cast<double>(f.size()) * kByteSeconds : monoSeconds();
    notBefore += replyDelayMs_ / 1000.0;
    sendReply(text.substr(0, 2), *reply, notBefore);
}

void AmpBoard::sendReply(const std::string& command, std::string_view reply, double notBefore)
{
    Fault fault;
    const bool faulted = takeFault(command, fault);
    std::string out;
    std::string_view text = reply;
    std::string changed;
    size_t parts = 1;
    int pauseMs = 0;
    if (faulted) {
        log_.note(std::string("fault: ") + faultName(fault.kind) + " (reply to " + command + ")");
        switch (fault.kind) {
        case FaultKind::Silence:
            return;
        case FaultKind::Refuse:
            changed = std::string(reply.substr(0, 2)) + fault.refusal + ";";
            out = frame(changed);
            break;
        case FaultKind::WrongCrc:
            out = hex2(static_cast<uint8_t>(crcOf(text) + 1), true) + std::string(text);
            break;
        case FaultKind::LowerCaseCrc:
            out = hex2(crcOf(text), false) + std::string(text);
            break;
        case FaultKind::UnknownKeyword: {
            std::string kw = fault.keyword;
            kw.resize(2, 'Z');
            changed = kw + std::string(reply.size() > 2 ? reply.substr(2) : ";");
            out = frame(changed);
            break;
        }
        case FaultKind::Split:
            out = frame(text);
            parts = static_cast<size_t>(fault.splitParts < 1 ? 1 : fault.splitParts);
            pauseMs = fault.splitPauseMs < 0 ? 0 : fault.splitPauseMs;
            break;
        case FaultKind::Garbage:
            out = fault.garbage;
            break;
        }
    } else {
        out = frame(text);
    }
    if (out.empty())
        return;
    parts = std::min(parts, out.size());
    double tFirst = 0, tLast = 0;
    size_t pos = 0;
    for (size_t i = 0; i < parts && running_; ++i) {
        const size_t len = (i + 1 == parts) ? out.size() - pos : out.size() / parts;
        double a = 0, b = 0;
        if (!writePaced(std::string_view(out).substr(pos, len), i == 0 ? notBefore : 0, a, b))
            break;
        if (i == 0)
            tFirst = a;
        tLast = b;
        pos += len;
        if (i + 1 < parts && pauseMs > 0) {
            pollfd w{wakePipe_[0], POLLIN, 0};
            poll(&w, 1, pauseMs);
        }
    }
    repliesSent_++;
    log_.add({tFirst, false, out.substr(0, pos), tLast});
}

bool AmpBoard::writePaced(std::string_view bytes, double notBefore, double& tFirst, double& tLast)
{
    const bool paced = pacing_;
    if (!paced)
        sleepUntil(notBefore);
    const double t0 = std::max(monoSeconds(), notBefore);
    // Each byte is due when its stop bit would have ended on the line, on a fixed schedule
    // from t0 (a late wake-up is caught up by the next bytes).
    const auto due = [&](size_t j) { return t0 + static_cast<double>(j + 1) * kByteSeconds; };
    // A paced reply's time is its first byte's on the line, an unpaced one's that of its write.
    tFirst = paced ? due(0) : t0;
    size_t done = 0;
    int stalls = 0;
    double lastWrite = t0;
    while (done < bytes.size()) {
        size_t chunk = bytes.size() - done;
        if (paced) {
            // The bytes reach the reader as a UART's receive FIFO hands them on: in the fewest
            // batches at most kPacingBatchSeconds apart, spread evenly so that the last one
            // carries the reply's last byte at its own time. Each takes every byte due by
            // then, none before its time.
            const double left = due(bytes.size() - 1) - lastWrite;
            const double batches = std::max(1.0, std::ceil(left / kPacingBatchSeconds));
            sleepUntil(std::max(due(done), lastWrite + left / batches));
            const double now = monoSeconds();
            chunk = 1;
            while (done + chunk < bytes.size() && due(done + chunk) <= now)
                ++chunk;
        }
        const ssize_t n = ::write(fd_, bytes.data() + done, chunk);
        if (n > 0) {
            lastWrite = monoSeconds();
            if (!paced && done == 0)
                tFirst = lastWrite;
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && ++stalls < 40 && running_) {
            // The line's buffer is full (nobody reads the other end): wait a little.
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 25);
            continue;
        }
        log_.note("write to the line failed; rest of the reply dropped");
        tLast = monoSeconds();
        return false;
    }
    tLast = monoSeconds();
    return true;
}

} // namespace sim
