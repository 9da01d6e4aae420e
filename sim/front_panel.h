#pragma once
// The front panel of the simulated unit as the controller sees it from another process:
// six buttons on the level register (offset 0x34) of the root's dev/mem register file
// (GPIO 22..27, pressed = low; the data line of the front-panel micro, GPIO 4, idles high),
// and a USB keyboard writing Linux input events into the FIFO
// dev/input/by-id/sim-event-kbd.
//
// Presses are timed by a thread of their own: press and hold are queued one after the
// other (each followed by a 100 ms release), so "press 4" then "press 3" are two presses.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

constexpr int kShortPressMs = 100;  // "press K": the pin low this long
constexpr int kReleaseGapMs = 100;  // released between two queued presses

// Linux key codes of the keys the controller acts on.
constexpr int kKeyF10 = 68, kKeyF11 = 87, kKeyF12 = 88, kKeySysRq = 99;

// The level register with every button released.
uint32_t releasedLevels();

class FrontPanel {
public:
    // Maps <root>/dev/mem and holds the keyboard FIFO open on both ends (so the controller's
    // open never blocks and its reads wait for events). Throws std::runtime_error.
    explicit FrontPanel(const std::string& root);
    ~FrontPanel();
    FrontPanel(const FrontPanel&) = delete;
    FrontPanel& operator=(const FrontPanel&) = delete;

    // Button key (1..6) down for ms milliseconds, after the presses already queued.
    bool pressButton(int key, int ms = kShortPressMs);
    // The pin level alone, at once.
    bool buttonLevel(int key, bool down);
    // True once every queued press has ended, waiting up to timeoutSeconds.
    bool waitButtonsIdle(double timeoutSeconds);
    uint32_t levelRegister() const;

    // A key pressed and released: input events into the keyboard FIFO.
    bool keyboardKey(int code);
    bool writeKeyboard(const void* bytes, size_t length);

private:
    using Clock = std::chrono::steady_clock;
    struct Edge {
        Clock::time_point at;
        int key;
        bool down;
    };
    void setLevel(int key, bool down);
    void run();

    volatile uint32_t* regs_ = nullptr;
    int keyboardFd_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Edge> edges_;
    Clock::time_point queueEnd_{};
    bool stop_ = false;
    std::thread thread_;
};

// One key stroke as the unit's kernel reports it: press, report, release, report
// (four input events of the running kernel's size).
std::vector<unsigned char> keyStroke(int code);

// A key name of the control lines (F10, F11, F12, SYSRQ or a decimal code 1..767);
// -1 when unknown.
int keyCode(const std::string& name);

} // namespace sim
