#pragma once
// USB identifiers of the maker's transceiver and receivers: one vendor, the transceiver
// model, and two receiver models the sample stream refuses.
#include <cstdint>

constexpr uint16_t usbVendorId = 0x1209;
constexpr uint16_t pidIxo = 0x4958;
constexpr uint16_t pidQ1 = 0x5131;
constexpr uint16_t pidQ2 = 0x5132;
