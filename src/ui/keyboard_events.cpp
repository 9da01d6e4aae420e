#include "ui/keyboard_events.h"

#include <cstddef>
#include <cstring>
#include <linux/input.h>

static_assert(sizeof(input_event) == KEY_EVENT_BYTES, "the keyboard's records are the ABI's input events");

std::vector<int> takeKeyPresses(KeyEventBuffer& buffer, std::span<const uint8_t> bytes)
{
    std::vector<int> presses;
    for (uint8_t byte : bytes) {
        buffer.part[buffer.have++] = byte;
        if (buffer.have < KEY_EVENT_BYTES)
            continue;
        buffer.have = 0;
        input_event e;
        std::memcpy(&e, buffer.part.data(), sizeof e);
        if (e.type == EVENT_TYPE_KEY && e.value == KEY_VALUE_PRESS)
            presses.push_back(static_cast<int>(e.code));
    }
    return presses;
}
