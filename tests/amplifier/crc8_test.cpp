#include "amplifier/crc8.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {
std::string frame(const char* text)
{
    char crc[3];
    snprintf(crc, sizeof crc, "%02x", Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(text), strlen(text)));
    return std::string(crc) + text;
}
}

TEST(Crc8, CatalogueCheckValueAndLinkFrames)
{
    // CRC-8/MAXIM check value over "123456789".
    EXPECT_EQ(0xA1, Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>("123456789"), 9));
    EXPECT_EQ(0, Sys_Crc8Calculation(nullptr, 0));
    // The status poll as it goes on the wire.
    EXPECT_EQ("4dST;", frame("ST;"));
    // A single flipped bit changes the CRC.
    EXPECT_NE(frame("FM;").substr(0, 2), frame("FL;").substr(0, 2));
}
