#include "ui/keyboard_events.h"

namespace {

uint32_t little(const uint8_t* p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

std::vector<int> takeKeyPresses(KeyEventBuffer& buffer, std::span<const uint8_t> bytes)
{
    std::vector<int> presses;
    for (uint8_t byte : bytes) {
        buffer.part[buffer.have++] = byte;
        if (buffer.have < KEY_EVENT_BYTES)
            continue;
        buffer.have = 0;
        const uint8_t* e = buffer.part.data();
        const uint32_t type = little(e + 8, 2);
        const uint32_t code = little(e + 10, 2);
        const auto value = static_cast<int32_t>(little(e + 12, 4));
        if (type == EVENT_TYPE_KEY && value == KEY_VALUE_PRESS)
            presses.push_back(static_cast<int>(code));
    }
    return presses;
}
