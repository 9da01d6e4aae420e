#include "panel_frames.h"

#include "display/snapshot.h"
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr double kWatchSeconds = 5.0;   // watching goes on this long after the last request
constexpr int kCheckIntervalMs = 40;    // 25 comparisons a second while watched

// The panel file mapped read-only; empty while the file is missing or of another size.
class PanelMapping {
public:
    explicit PanelMapping(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat st{};
        if (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= kPanelBytes) {
            void* p = ::mmap(nullptr, kPanelBytes, PROT_READ, MAP_SHARED, fd, 0);
            if (p != MAP_FAILED)
                data_ = static_cast<const unsigned char*>(p);
        }
        ::close(fd);
    }
    ~PanelMapping()
    {
        if (data_)
            ::munmap(const_cast<unsigned char*>(data_), kPanelBytes);
    }
    PanelMapping(const PanelMapping&) = delete;
    PanelMapping& operator=(const PanelMapping&) = delete;
    const unsigned char* data() const { return data_; }

private:
    const unsigned char* data_ = nullptr;
};

} // namespace

PanelFrames::PanelFrames(std::string framebufferPath) : path_(std::move(framebufferPath))
{
    thread_ = std::thread([this] { run(); });
}

PanelFrames::~PanelFrames()
{
    stop();
}

void PanelFrames::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    wanted_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

uint64_t PanelFrames::checks() const
{
    std::lock_guard lock(mutex_);
    return checks_;
}

PanelFrame PanelFrames::waitNewer(uint64_t after, double timeoutSeconds)
{
    std::unique_lock lock(mutex_);
    ++waiters_;
    wanted_.notify_all();
    changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds < 0 ? 0 : timeoutSeconds),
                      [&] { return stopping_ || latest_.version > after; });
    --waiters_;
    lastRequest_ = monoSeconds();
    return latest_;
}

// One comparison of the panel with the last frame; a changed content becomes a new frame.
void PanelFrames::checkOnce(const unsigned char* panel)
{
    if (copy_.size() == kPanelBytes && std::memcmp(copy_.data(), panel, kPanelBytes) == 0)
        return;
    copy_.assign(panel, panel + kPanelBytes);
    auto png = std::make_shared<std::vector<unsigned char>>();
    if (encodeScreenPng(copy_.data(), kPanelWidth, kPanelHeight, kPanelWidth * 4, 4, *png) != 0)
        return;
    {
        std::lock_guard lock(mutex_);
        latest_.version += 1;
        latest_.png = std::move(png);
    }
    changed_.notify_all();
}

void PanelFrames::run()
{
    std::unique_ptr<PanelMapping> map;
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            // Nobody watching: sleep until someone asks.
            wanted_.wait(lock, [&] {
                return stopping_ || waiters_ > 0 || monoSeconds() - lastRequest_ < kWatchSeconds;
            });
            if (stopping_)
                return;
            ++checks_;
        }
        // The file keeps its size and place while the unit runs: mapped once it is there.
        if (!map || !map->data())
            map = std::make_unique<PanelMapping>(path_);
        if (map->data())
            checkOnce(map->data());
        // On a fixed schedule, so that the time of an encoding is not added to the interval.
        next = std::max(next + std::chrono::milliseconds(kCheckIntervalMs), std::chrono::steady_clock::now());
        std::unique_lock lock(mutex_);
        if (wanted_.wait_until(lock, next, [&] { return stopping_; }))
            return;
    }
}

} // namespace sim
