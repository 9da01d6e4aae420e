// The FT-817 reply's BCD frequency.
#include "transceiver/cat_serial.h"

#include <gtest/gtest.h>

namespace {

TEST(CatSerialBcd, FourBcdBytesInTensOfHertzAndNonBcdRefused)
{
    uint32_t hz = 0;
    const uint8_t f20m[4] = {0x01, 0x42, 0x34, 0x56};
    ASSERT_TRUE(decodeBcdFrequency(f20m, hz));
    EXPECT_EQ(14234560u, hz);
    const uint8_t f40m[4] = {0x00, 0x70, 0x00, 0x00};
    ASSERT_TRUE(decodeBcdFrequency(f40m, hz));
    EXPECT_EQ(7000000u, hz);
    const uint8_t f2m[4] = {0x14, 0x50, 0x00, 0x00};
    ASSERT_TRUE(decodeBcdFrequency(f2m, hz));
    EXPECT_EQ(145000000u, hz);
    const uint8_t top[4] = {0x99, 0x99, 0x99, 0x99};
    ASSERT_TRUE(decodeBcdFrequency(top, hz));
    EXPECT_EQ(999999990u, hz);

    hz = 1234;
    const uint8_t badLow[4] = {0x01, 0x4A, 0x34, 0x56};
    EXPECT_FALSE(decodeBcdFrequency(badLow, hz));
    const uint8_t badHigh[4] = {0x01, 0x42, 0x34, 0xA6};
    EXPECT_FALSE(decodeBcdFrequency(badHigh, hz));
    EXPECT_EQ(1234u, hz) << "a refused reply leaves the frequency alone";

    EXPECT_EQ(0, VerifyByteFreq(0x99));
    EXPECT_EQ(1, VerifyByteFreq(0x9A));
    EXPECT_EQ(1, VerifyByteFreq(0xA0));
    EXPECT_EQ(0, VerifyByteFreq(0x00));
}

} // namespace
