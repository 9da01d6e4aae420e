// Fuzzes the FT-817 reply decoder: four frequency bytes, checked against the frequency
// read digit by digit from their hexadecimal text.
#include "fuzz_support.h"
#include "transceiver/cat_serial.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    uint32_t hertz = 7;
    const bool decoded = decodeBcdFrequency(data, hertz);
    char text[16];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", data[0], data[1], data[2], data[3]);
    bool digits = true;
    unsigned long expected = 0;
    for (int i = 0; i < 8; ++i) {
        digits = digits && text[i] >= '0' && text[i] <= '9';
        expected = expected * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    if (decoded != digits)
        fuzz::fail("%s %s", text, decoded ? "decoded" : "refused");
    if (decoded && hertz != expected * 10)
        fuzz::fail("%s gave %u Hz", text, hertz);
    if (!decoded && hertz != 7)
        fuzz::fail("a refused reply changed the frequency");
    for (size_t i = 0; i < 4; ++i)
        if (VerifyByteFreq(data[i]) != ((data[i] >> 4) > 9 || (data[i] & 15) > 9))
            fuzz::fail("byte %02x", data[i]);
    return 0;
}
