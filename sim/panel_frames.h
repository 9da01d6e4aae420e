#pragma once
// The simulated panel (the framebuffer file the controller maps) as a sequence of PNG
// frames for live viewers. While someone has asked for a frame in the last few seconds, a
// thread compares the file with its last copy 25 times a second and encodes a new frame
// only when the content changed; with nobody watching it sleeps.
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
    std::shared_ptr<const std::vector<unsigned char>> png;
};

class PanelFrames {
public:
    explicit PanelFrames(std::string framebufferPath);
    ~PanelFrames();
    PanelFrames(const PanelFrames&) = delete;
    PanelFrames& operator=(const PanelFrames&) = delete;

    // Waits (no spinning) until there is a frame newer than `after`, or timeoutSeconds
    // pass, or stop(). Returns the newest frame; its version is `after` or less when none
    // came.
    PanelFrame waitNewer(uint64_t after, double timeoutSeconds);
    // Ends the watching thread and releases every waiter; idempotent.
    void stop();
    // Content comparisons made so far (for tests of the idle behaviour).
    uint64_t checks() const;

private:
    void run();
    void checkOnce(const unsigned char* panel);

    std::string path_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a new frame, or stop
    std::condition_variable wanted_;   // a viewer asked, or stop
    double lastRequest_ = -1e9;        // monotonic seconds, end of the last request
    int waiters_ = 0;                  // requests waiting for a frame now
    bool stopping_ = false;
    PanelFrame latest_;
    uint64_t checks_ = 0;
    std::vector<unsigned char> copy_;  // the content of the latest frame (watch thread only)
    std::thread thread_;
};

} // namespace sim
