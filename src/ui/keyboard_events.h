#pragma once
// Linux input events of the USB keyboard as the unit's kernel delivers them: records of
// 16 bytes (time stamp as two 32-bit words, type uint16, code uint16, value int32, all
// little-endian). Reads may end inside a record; the part is kept until the rest comes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr size_t KEY_EVENT_BYTES = 16;
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
