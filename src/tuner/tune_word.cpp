#include "tuner/tune_word.h"

#include "core/works.h"
#include "platform/log.h"

#include <cstdio>

namespace {

// Word bit of each value bit, value bit 0 first.
constexpr int capacitanceBits[9] = {15, 2, 4, 6, 14, 12, 10, 8, 20};
constexpr int inductanceBits[9] = {1, 3, 5, 7, 13, 11, 9, 19, 21};
// Reserved bits cleared together with each value.
constexpr uint32_t capacitanceReserved = 1u << 22;
constexpr uint32_t inductanceReserved = 1u << 17;

constexpr uint32_t maskOf(const int (&bits)[9])
{
    uint32_t mask = 0;
    for (int b : bits)
        mask |= 1u << b;
    return mask;
}

uint32_t encode(uint32_t word, const int (&bits)[9], uint32_t reserved, int value)
{
    word &= ~(maskOf(bits) | reserved);
    for (int i = 0; i < 9; ++i)
        if (value & (1 << i))
            word |= 1u << bits[i];
    return word;
}

int decode(uint32_t word, const int (&bits)[9])
{
    int value = 0;
    for (int i = 0; i < 9; ++i)
        if (word & (1u << bits[i]))
            value |= 1 << i;
    return value;
}

} // namespace

uint32_t tunewordWithC(uint32_t word, int c)
{
    return encode(word, capacitanceBits, capacitanceReserved, c);
}

uint32_t tunewordWithL(uint32_t word, int l)
{
    return encode(word, inductanceBits, inductanceReserved, l);
}

uint32_t tunewordWithMode(uint32_t word, int mode)
{
    word &= ~TUNE_MODE_BITS;
    switch (mode) {
    case TUNE_MODE_CL:
        return word | TUNE_BIT_SIDE_B;
    case TUNE_MODE_LC:
        return word | TUNE_BIT_SIDE_A;
    default:
        return word | TUNE_BIT_BYPASS;
    }
}

void SetC(Works* works, int c)
{
    works->tuneval = tunewordWithC(works->tuneval, c);
}

void SetI(Works* works, int l)
{
    works->tuneval = tunewordWithL(works->tuneval, l);
}

void SetMode(Works* works, int mode)
{
    works->modoTune = static_cast<uint8_t>(mode);
    if (mode < 0 || mode > 3)
        return;
    works->tuneval = tunewordWithMode(works->tuneval, mode);
    const bool inLine = mode == TUNE_MODE_CL || mode == TUNE_MODE_LC;
    works->atuBypass = inLine ? 0 : 1;
}

int DecodeCapacitaFromTuneval(uint32_t word)
{
    return decode(word, capacitanceBits);
}

int DecodeInduttanzaFromTuneval(uint32_t word)
{
    return decode(word, inductanceBits);
}

int DecodeModoFromTuneval(uint32_t word)
{
    switch (word & TUNE_MODE_BITS) {
    case 0:
        return TUNE_MODE_NONE;
    case TUNE_BIT_SIDE_B:
        return TUNE_MODE_CL;
    case TUNE_BIT_SIDE_A:
        return TUNE_MODE_LC;
    case TUNE_BIT_BYPASS:
        return TUNE_MODE_BYPASS;
    default:
        logErr("DecodeModoFromTuneval -> tune: 0x%x \n", word & 0x850000u);
        return TUNE_MODE_NONE;
    }
}

void ReadTnePar(Works* works)
{
    works->capacita = DecodeCapacitaFromTuneval(works->tuneval);
    works->induttanza = DecodeInduttanzaFromTuneval(works->tuneval);
    works->modoTune = static_cast<uint8_t>(DecodeModoFromTuneval(works->tuneval));
    if (works->modoTune == TUNE_MODE_NONE)
        SetMode(works, TUNE_MODE_BYPASS);
}
