#pragma once
// CRC-8 of the amplifier link frames: Dallas/Maxim 1-Wire (polynomial x^8+x^5+x^4+1,
// processed least-significant bit first, initial value 0, no final XOR).
#include <cstddef>
#include <cstdint>

uint8_t Sys_Crc8Calculation(const uint8_t* bytes, size_t length);
