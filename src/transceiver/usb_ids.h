#pragma once
// USB identifiers of the maker's transceiver and receivers. The vendor number is shared
// with many other open-hardware gadgets: the sample stream takes the device with this
// vendor and the transceiver's product, refuses the two receiver models it cannot serve,
// and leaves every other device alone.
#include <cstdint>

constexpr uint16_t usbVendorId = 0x1d50;
constexpr uint16_t pidIxo = 0x6150;  // the transceiver model
constexpr uint16_t pidQ1 = 0x6151;   // refused
constexpr uint16_t pidQ2 = 0x6152;   // refused
