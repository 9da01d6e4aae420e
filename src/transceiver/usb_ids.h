#pragma once
// USB identifiers of the maker's transceiver and receivers: one vendor; the sample stream
// takes any product of it but the two refused receiver models.
#include <cstdint>

constexpr uint16_t usbVendorId = 0x1d50;
constexpr uint16_t pidIxo = 0x6150;  // the transceiver model
constexpr uint16_t pidQ1 = 0x6151;   // refused
constexpr uint16_t pidQ2 = 0x6152;   // refused
