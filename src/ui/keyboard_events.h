#pragma once
// Linux input events of the USB keyboard as the running kernel delivers them: records of
// the ABI's struct input_event (time stamp as two longs, type uint16, code uint16, value
// int32): 16 bytes on the unit's 32-bit system, 24 on a 64-bit one. Reads may end inside a
// record; the part is kept until the rest comes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr size_t KEY_EVENT_BYTES = 2 * sizeof(long) + 8;  // sizeof(struct input_event)
constexpr uint16_t EVENT_TYPE_KEY = 1;
constexpr int32_t KEY_VALUE_PRESS = 1; // 0 release, 2 auto-repeat

constexpr int KEY_F10 = 68;
constexpr int KEY_F11 = 87;
constexpr int KEY_F12 = 88;
constexpr int KEY_SYSRQ = 99; // Print Screen

struct KeyEventBuffer {
    std::array<uint8_t, KEY_EVENT_BYTES> part{};
    size_t have = 0;
};

// Takes the bytes of one read; returns the codes of the key presses completed by them, in
// order (releases, auto-repeats and other event types are left out).
std::vector<int> takeKeyPresses(KeyEventBuffer& buffer, std::span<const uint8_t> bytes);
