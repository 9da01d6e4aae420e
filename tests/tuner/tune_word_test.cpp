// The tune word layout: every capacitance and inductance both ways, reserved and unused
// bits, the modes and their decoding.
#include "core/works.h"
#include "tuner/tune_word.h"
#include "ui/menu.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr uint32_t kUnusedBits = 0xFF000001u;  // bits 0 and 24..31: never touched

TEST(TuneWord, EveryValueEncodesAndDecodesBothWays)
{
    auto works = std::make_unique<Works>();
    for (int v = 0; v < 512; ++v) {
        works->tuneval = kUnusedBits;
        SetC(works.get(), v);
        SetI(works.get(), 511 - v);
        EXPECT_EQ(DecodeCapacitaFromTuneval(works->tuneval), v);
        EXPECT_EQ(DecodeInduttanzaFromTuneval(works->tuneval), 511 - v);
        EXPECT_EQ(works->tuneval & kUnusedBits, kUnusedBits);
        EXPECT_EQ(works->tuneval & TUNE_MODE_BITS, 0u) << "value bits never touch the mode bits";
    }
    // Each value bit sits where the layout puts it.
    EXPECT_EQ(tunewordWithC(0, 1), 1u << 15);
    EXPECT_EQ(tunewordWithC(0, 1 << 7), 1u << 8);
    EXPECT_EQ(tunewordWithC(0, 1 << 8), 1u << 20);
    EXPECT_EQ(tunewordWithL(0, 1), 1u << 1);
    EXPECT_EQ(tunewordWithL(0, 1 << 4), 1u << 13);
    EXPECT_EQ(tunewordWithL(0, 1 << 7), 1u << 19);
    EXPECT_EQ(tunewordWithL(0, 1 << 8), 1u << 21);
    // Only bits 0..8 count; 512 encodes 0.
    EXPECT_EQ(DecodeCapacitaFromTuneval(tunewordWithC(0, 512)), 0);
    EXPECT_EQ(DecodeCapacitaFromTuneval(tunewordWithC(0, 511)), 511);
}

TEST(TuneWord, ReservedBitsAreClearedAndIgnored)
{
    const uint32_t both = (1u << 17) | (1u << 22);
    EXPECT_EQ(tunewordWithC(both, 0) & (1u << 22), 0u);
    EXPECT_NE(tunewordWithC(both, 0) & (1u << 17), 0u) << "setting C leaves the inductance's reserved bit";
    EXPECT_EQ(tunewordWithL(both, 0) & (1u << 17), 0u);
    EXPECT_EQ(DecodeCapacitaFromTuneval(both), 0);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(both), 0);
}

TEST(TuneWord, ModesSetTheirBitAndBypassFlag)
{
    auto works = std::make_unique<Works>();
    works->tuneval = tunewordWithL(tunewordWithC(0, 300), 200) | TUNE_MODE_BITS;
    SetMode(works.get(), TUNE_MODE_CL);
    EXPECT_EQ(works->tuneval & TUNE_MODE_BITS, TUNE_BIT_SIDE_B);
    EXPECT_EQ(works->atuBypass, 0);
    EXPECT_EQ(DecodeModoFromTuneval(works->tuneval), TUNE_MODE_CL);
    SetMode(works.get(), TUNE_MODE_LC);
    EXPECT_EQ(works->tuneval & TUNE_MODE_BITS, TUNE_BIT_SIDE_A);
    EXPECT_EQ(DecodeModoFromTuneval(works->tuneval), TUNE_MODE_LC);
    SetMode(works.get(), TUNE_MODE_NONE);
    EXPECT_EQ(works->tuneval & TUNE_MODE_BITS, TUNE_BIT_BYPASS);
    EXPECT_EQ(works->atuBypass, 1);
    EXPECT_EQ(DecodeModoFromTuneval(works->tuneval), TUNE_MODE_BYPASS);
    EXPECT_EQ(DecodeCapacitaFromTuneval(works->tuneval), 300);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(works->tuneval), 200);
    // A mode above 3 only stores modoTune.
    const uint32_t before = works->tuneval;
    SetMode(works.get(), 7);
    EXPECT_EQ(works->modoTune, 7);
    EXPECT_EQ(works->tuneval, before);
    // The word labels nothing: the manual-tune bar's label is drawn from it with the next
    // frame, whichever page is shown.
    setBarLabel(BAR_MANUAL_TUNE, 1, 1, "unchanged");
    works->pageIdx = BAR_MANUAL_TUNE;
    SetMode(works.get(), TUNE_MODE_LC);
    EXPECT_EQ(DecodeModoFromTuneval(works->tuneval), TUNE_MODE_LC);
    EXPECT_STREQ(barLabels(BAR_MANUAL_TUNE).label[0][1], "unchanged");
}

TEST(TuneWord, TwoModeBitsDecodeAsNoneAndReadTneParMakesBypass)
{
    auto works = std::make_unique<Works>();
    testing::internal::CaptureStderr();
    EXPECT_EQ(DecodeModoFromTuneval(TUNE_BIT_SIDE_A | TUNE_BIT_SIDE_B | 0x2), TUNE_MODE_NONE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DecodeModoFromTuneval -> tune: 0x840000 \n");

    works->tuneval = tunewordWithC(tunewordWithL(0, 17), 33);
    ReadTnePar(works.get());
    EXPECT_EQ(works->capacita, 33);
    EXPECT_EQ(works->induttanza, 17);
    EXPECT_EQ(works->modoTune, TUNE_MODE_BYPASS);
    EXPECT_EQ(works->tuneval & TUNE_MODE_BITS, TUNE_BIT_BYPASS);
    EXPECT_EQ(works->atuBypass, 1);
}

} // namespace
