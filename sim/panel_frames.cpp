#include "panel_frames.h"
#include "thread_name.h"

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
constexpr int kCheckIntervalMs = 50;    // 20 comparisons a second while the panel changes (the
                                        // controller draws 16.4 frames a second),
constexpr int kIdleIntervalMs = 100;    // 10 once it has rested for a quarter of a second
constexpr double kRestSeconds = 0.25;
constexpr size_t rowBytes = static_cast<size_t>(kPanelWidth) * 4; // one panel row, 4 bytes a pixel

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
    thread_ = std::thread([this] {
        nameThisThread("web-frames");
        run();
    });
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
                      [&] { return stopping_ || version_ > after; });
    --waiters_;
    lastRequest_ = monoSeconds();
    PanelFrame frame;
    frame.version = version_;
    if (version_ <= after || copy_.size() != kPanelBytes)
        return frame;
    // The rows changed since `after`; all of them when it is not among the remembered.
    int first = 0, last = kPanelHeight - 1;
    if (after > 0 && !changes_.empty() && changes_.front().version <= after + 1) {
        first = kPanelHeight;
        last = -1;
        for (const Change& c : changes_) {
            if (c.version > after) {
                first = std::min(first, c.first);
                last = std::max(last, c.last);
            }
        }
    }
    const std::vector<unsigned char> band(copy_.begin() + static_cast<std::ptrdiff_t>(first * rowBytes),
                                          copy_.begin() + static_cast<std::ptrdiff_t>((last + 1) * rowBytes));
    lock.unlock();
    auto png = std::make_shared<std::vector<unsigned char>>();
    if (encodeScreenPng(band.data(), kPanelWidth, last - first + 1, rowBytes, 4, *png) == 0) {
        frame.png = std::move(png);
        frame.y = first;
    }
    return frame;
}

// One comparison of the panel with the last frame; a changed content becomes a new
// version, with the band of rows it changed. Returns whether it changed.
bool PanelFrames::checkOnce(const unsigned char* panel)
{
    int first = 0, last = kPanelHeight - 1;
    if (copy_.size() == kPanelBytes) {
        auto rowDiffers = [&](int y) {
            const size_t at = static_cast<size_t>(y) * rowBytes;
            return std::memcmp(copy_.data() + at, panel + at, rowBytes) != 0;
        };
        while (first < kPanelHeight && !rowDiffers(first))
            ++first;
        if (first == kPanelHeight)
            return false;
        while (!rowDiffers(last))
            --last;
    }
    {
        std::lock_guard lock(mutex_);
        if (copy_.size() != kPanelBytes)
            copy_.assign(panel, panel + kPanelBytes);
        else
            std::memcpy(copy_.data() + static_cast<size_t>(first) * rowBytes, panel + static_cast<size_t>(first) * rowBytes,
                        static_cast<size_t>(last - first + 1) * rowBytes);
        version_ += 1;
        changes_.push_back({version_, first, last});
        if (changes_.size() > kRememberedChanges)
            changes_.pop_front();
    }
    changed_.notify_all();
    return true;
}

void PanelFrames::run()
{
    std::unique_ptr<PanelMapping> map;
    auto next = std::chrono::steady_clock::now();
    double lastChange = -1e9;
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
        if (map->data() && checkOnce(map->data()))
            lastChange = monoSeconds();
        // On a fixed schedule, so that the time of an encoding is not added to the interval.
        // A resting panel is compared less often: its first change is still seen within
        // 0.1 s, and the ones after it at the full rate.
        const int interval = monoSeconds() - lastChange < kRestSeconds ? kCheckIntervalMs : kIdleIntervalMs;
        next = std::max(next + std::chrono::milliseconds(interval), std::chrono::steady_clock::now());
        std::unique_lock lock(mutex_);
        if (wanted_.wait_until(lock, next, [&] { return stopping_; }))
            return;
    }
}

} // namespace sim
