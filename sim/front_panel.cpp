#include "front_panel.h"
#include "thread_name.h"

#include "platform/gpio.h"
#include "root_builder.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr int kFirstButtonPin = 22;
constexpr int kDataPin = 4;

std::atomic_ref<uint32_t> levelWord(volatile uint32_t* regs)
{
    return std::atomic_ref<uint32_t>(*const_cast<uint32_t*>(regs + GPIO_LEV0 / 4));
}

// One input event as the running kernel writes it (struct input_event of this ABI).
void putEvent(unsigned char* out, uint16_t type, uint16_t code, int32_t value)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    input_event e{};
    e.input_event_sec = now.tv_sec;
    e.input_event_usec = now.tv_usec;
    e.type = type;
    e.code = code;
    e.value = value;
    std::memcpy(out, &e, sizeof e);
}

} // namespace

uint32_t releasedLevels()
{
    return (0x3Fu << kFirstButtonPin) | (1u << kDataPin);
}

int keyCode(const std::string& name)
{
    if (name == "F10")
        return kKeyF10;
    if (name == "F11")
        return kKeyF11;
    if (name == "F12")
        return kKeyF12;
    if (name == "SYSRQ")
        return kKeySysRq;
    if (name.empty() || name.size() > 3 || name.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int code = std::atoi(name.c_str());
    return code >= 1 && code <= 767 ? code : -1;
}

FrontPanel::FrontPanel(const std::string& root)
{
    const std::string mem = rootPath(root, "dev/mem");
    const int fd = ::open(mem.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("open " + mem + ": " + std::strerror(errno));
    void* base = mmap(nullptr, GPIO_BLOCK_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED)
        throw std::runtime_error("mmap " + mem + ": " + std::strerror(errno));
    regs_ = static_cast<volatile uint32_t*>(base);
    levelWord(regs_).store(releasedLevels());

    keyboardFd_ = ::open(rootPath(root, "dev/input/by-id/sim-event-kbd").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    thread_ = std::thread([this] {
        nameThisThread("sim-buttons");
        run();
    });
}

FrontPanel::~FrontPanel()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    if (keyboardFd_ >= 0)
        ::close(keyboardFd_);
    munmap(const_cast<uint32_t*>(regs_), GPIO_BLOCK_BYTES);
}

void FrontPanel::setLevel(int key, bool down)
{
    const uint32_t bit = 1u << (kFirstButtonPin + key - 1);
    if (down)
        levelWord(regs_).fetch_and(~bit);
    else
        levelWord(regs_).fetch_or(bit);
}

bool FrontPanel::pressButton(int key, int ms)
{
    if (key < 1 || key > 6 || ms < 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point start = std::max(Clock::now(), queueEnd_);
        const Clock::time_point end = start + std::chrono::milliseconds(ms);
        edges_.push_back({start, key, true});
        edges_.push_back({end, key, false});
        queueEnd_ = end + std::chrono::milliseconds(kReleaseGapMs);
    }
    changed_.notify_all();
    return true;
}

bool FrontPanel::buttonLevel(int key, bool down)
{
    if (key < 1 || key > 6)
        return false;
    setLevel(key, down);
    return true;
}

bool FrontPanel::waitButtonsIdle(double timeoutSeconds)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [this] { return edges_.empty() && Clock::now() >= queueEnd_; });
}

uint32_t FrontPanel::levelRegister() const
{
    return levelWord(regs_).load();
}

void FrontPanel::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (edges_.empty()) {
            // Idle until queued; a wait that ends at the queue's end lets waitButtonsIdle see it.
            if (Clock::now() < queueEnd_)
                changed_.wait_until(lock, queueEnd_);
            else
                changed_.wait(lock);
            changed_.notify_all();
            continue;
        }
        const Edge next = edges_.front();
        if (Clock::now() < next.at) {
            changed_.wait_until(lock, next.at);
            continue;
        }
        edges_.pop_front();
        setLevel(next.key, next.down);
        // An edge made late moves the rest with it, so no press or release gets shorter.
        const Clock::duration late = Clock::now() - next.at;
        for (Edge& e : edges_)
            e.at += late;
        queueEnd_ += late;
        changed_.notify_all();
    }
}

bool FrontPanel::writeKeyboard(const void* bytes, size_t length)
{
    if (keyboardFd_ < 0)
        return false;
    const ssize_t n = ::write(keyboardFd_, bytes, length);
    return n == static_cast<ssize_t>(length);
}

std::vector<unsigned char> keyStroke(int code)
{
    constexpr size_t size = sizeof(input_event);
    std::vector<unsigned char> events(4 * size);
    putEvent(events.data(), EV_KEY, static_cast<uint16_t>(code), 1);
    putEvent(events.data() + size, EV_SYN, 0, 0);
    putEvent(events.data() + 2 * size, EV_KEY, static_cast<uint16_t>(code), 0);
    putEvent(events.data() + 3 * size, EV_SYN, 0, 0);
    return events;
}

bool FrontPanel::keyboardKey(int code)
{
    if (code < 1 || code > 767)
        return false;
    const std::vector<unsigned char> events = keyStroke(code);
    return writeKeyboard(events.data(), events.size());
}

} // namespace sim
