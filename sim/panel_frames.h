#pragma once
// The simulated panel (the framebuffer file the controller maps) as a sequence of PNG
// frames for live viewers. While someone has asked for a frame in the last few seconds, a
// thread compares the file with its last copy 20 times a second (10 once the panel has
// rested for a quarter of a second) and keeps the rows that changed; with nobody watching
// it sleeps.
// A viewer gets, as a PNG, only the band of rows that changed since the frame it has
// (the meters of a running unit are a fraction of the panel), or the whole panel when it
// has none or fell too far behind; it is encoded for the request that asks.
#include <deque>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

constexpr int kPanelWidth = 800;
constexpr int kPanelHeight = 480;
constexpr size_t kPanelBytes = static_cast<size_t>(kPanelWidth) * kPanelHeight * 4;

struct PanelFrame {
    uint64_t version = 0; // 1 for the first frame, one more for each changed content
    std::shared_ptr<const std::vector<unsigned char>> png; // rows y.. of the panel, full width
    int y = 0;            // the band's first row (0 and the whole height for a whole frame)
};

class PanelFrames {
public:
    explicit PanelFrames(std::string framebufferPath);
    ~PanelFrames();
    PanelFrames(const PanelFrames&) = delete;
    PanelFrames& operator=(const PanelFrames&) = delete;

    // Waits (no spinning) until there is a frame newer than `after`, or timeoutSeconds
    // pass, or stop(). Returns the newest frame, as the band of rows that changed since
    // `after` (the whole panel for `after` 0 or a version no longer remembered); its version
    // is `after` or less, and png empty, when none came.
    PanelFrame waitNewer(uint64_t after, double timeoutSeconds);
    // Ends the watching thread and releases every waiter; idempotent.
    void stop();
    // Content comparisons made so far (for tests of the idle behaviour).
    uint64_t checks() const;

private:
    void run();
    bool checkOnce(const unsigned char* panel);

    std::string path_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a new frame, or stop
    std::condition_variable wanted_;   // a viewer asked, or stop
    double lastRequest_ = -1e9;        // monotonic seconds, end of the last request
    int waiters_ = 0;                  // requests waiting for a frame now
    bool stopping_ = false;
    // The rows each recent version changed, oldest first.
    struct Change {
        uint64_t version;
        int first, last;
    };
    static constexpr size_t kRememberedChanges = 64;
    uint64_t version_ = 0;
    std::deque<Change> changes_;
    uint64_t checks_ = 0;
    // The content of the latest frame: written by the watch thread under the lock, read by
    // it without (it is the only writer) and by requests under the lock.
    std::vector<unsigned char> copy_;
    std::thread thread_;
};

} // namespace sim
