#include "amplifier/crc8.h"

uint8_t Sys_Crc8Calculation(const uint8_t* bytes, size_t length)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < length; i++) {
        uint8_t byte = bytes[i];
        for (int bit = 0; bit < 8; bit++) {
            if ((byte ^ crc) & 1)
                crc = static_cast<uint8_t>((crc >> 1) ^ 0x8C);
            else
                crc = static_cast<uint8_t>(crc >> 1);
            byte = static_cast<uint8_t>(byte >> 1);
        }
    }
    return crc;
}
