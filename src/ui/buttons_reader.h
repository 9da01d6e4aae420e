#pragma once
// Debounce, long press and auto-repeat of the six front-panel buttons, as a pure function
// of the sampled levels and the time, so it can be driven by a scripted sequence.
#include <array>
#include <cstdint>
#include <functional>

constexpr int BUTTON_COUNT = 6;
constexpr int DEBOUNCE_SAMPLES = 5;        // differing samples counted before the sixth decides
constexpr double REPEAT_SECONDS = 0.1;      // auto-repeat period for repeats 1..14
constexpr double FAST_REPEAT_SECONDS = 0.02; // auto-repeat period from the 15th repeat on
constexpr int SLOW_REPEATS = 14;
constexpr double NOTICE_LEAD_SECONDS = 0.15; // the second-function notice shows this early

struct ButtonReader {
    std::array<int, BUTTON_COUNT> stable{1, 1, 1, 1, 1, 1};        // 1 released, 0 pressed
    std::array<int, BUTTON_COUNT> previous{-1, -1, -1, -1, -1, -1}; // -1 before the first poll
    std::array<int, BUTTON_COUNT> count{};
    uint32_t timingMask = 0; // the button whose press is being timed
    uint32_t heldMask = 0;   // buttons whose long press was consumed
    double pressStart = 0;
    int repeats = 0;
};

// One recognised press: key 1..6, flags 0 for a short press, else the held mask with the
// key's bit. A non-zero result asks for the long press to repeat while the key stays down.
using ButtonPress = std::function<int(int key, int pressFlags)>;

// One poll of the buttons. levels: bit k-1 is the input level of button k (1 released,
// 0 pressed). now: monotonic seconds; longPress: the long-press time in seconds.
// Returns 1 when the second-function notice should show (a long press is near), else 0;
// 0 on the poll that hands the long press to the key handler, which clears the notice.
int pollButtons(ButtonReader& reader, uint32_t levels, double now, double longPress, const ButtonPress& press);
