// The keyboard's input records, of the running kernel's size: presses only, whole records
// only.
#include "ui/keyboard_events.h"

#include <gtest/gtest.h>

#include <cstring>
#include <linux/input.h>
#include <vector>

namespace {

// One record as the running kernel writes it.
std::vector<uint8_t> event(uint16_t type, uint16_t code, int32_t value)
{
    input_event e{};
    e.input_event_sec = 0x11;  // a time stamp that is not all zero
    e.input_event_usec = 0x22;
    e.type = type;
    e.code = code;
    e.value = value;
    std::vector<uint8_t> bytes(sizeof e);
    std::memcpy(bytes.data(), &e, sizeof e);
    return bytes;
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(KeyboardEvents, PressesOnlyInOrder)
{
    KeyEventBuffer buffer;
    // A held F11: press, three auto-repeats, release; then Print Screen; SYN reports between.
    const auto bytes = join({event(1, KEY_F11, 1), event(0, 0, 0), event(1, KEY_F11, 2), event(1, KEY_F11, 2),
                             event(1, KEY_F11, 2), event(1, KEY_F11, 0), event(0, 0, 0), event(4, 4, 0x46),
                             event(1, KEY_SYSRQ, 1), event(1, 0x2FF, 1)});
    EXPECT_EQ((std::vector<int>{KEY_F11, KEY_SYSRQ, 0x2FF}), takeKeyPresses(buffer, bytes));
    EXPECT_EQ(0u, buffer.have);
    // A value that only agrees in its low byte is no press.
    EXPECT_TRUE(takeKeyPresses(buffer, event(1, KEY_F12, 0x101)).empty());
}

TEST(KeyboardEvents, PartialRecordsAreKeptUntilComplete)
{
    KeyEventBuffer buffer;
    const auto bytes = join({event(1, KEY_F10, 1), event(1, KEY_F12, 1)});
    // Split at every possible point, and byte by byte: the same two presses.
    for (size_t cut = 0; cut <= bytes.size(); cut++) {
        KeyEventBuffer b;
        auto first = takeKeyPresses(b, std::span(bytes.data(), cut));
        auto second = takeKeyPresses(b, std::span(bytes.data() + cut, bytes.size() - cut));
        first.insert(first.end(), second.begin(), second.end());
        EXPECT_EQ((std::vector<int>{KEY_F10, KEY_F12}), first) << "cut at " << cut;
    }
    std::vector<int> got;
    for (uint8_t byte : bytes) {
        for (int code : takeKeyPresses(buffer, std::span(&byte, 1)))
            got.push_back(code);
        if (got.empty()) {
            EXPECT_LT(buffer.have, KEY_EVENT_BYTES);
        }
    }
    EXPECT_EQ((std::vector<int>{KEY_F10, KEY_F12}), got);
    // A read that ends inside a record gives nothing yet.
    const auto half = event(1, KEY_F11, 1);
    EXPECT_TRUE(takeKeyPresses(buffer, std::span(half.data(), 9)).empty());
    EXPECT_EQ(9u, buffer.have);
    EXPECT_EQ(std::vector<int>{KEY_F11}, takeKeyPresses(buffer, std::span(half.data() + 9, half.size() - 9)));
}

} // namespace
