// Pure conversions of the board's readings: hex digits, thermistor table, calibration
// factors by band, SWR; and the simulator's inverse of the thermistor table.
#include "amp_test_util.h"
#include "amplifier/measurements.h"
#include "amplifier/thresholds.h"
#include "board_physics.h"

#include <gtest/gtest.h>

TEST(Measurements, HexDigits)
{
    EXPECT_EQ(0, charToInt('0'));
    EXPECT_EQ(9, charToInt('9'));
    EXPECT_EQ(10, charToInt('A'));
    EXPECT_EQ(15, charToInt('f'));
    EXPECT_EQ(-1, charToInt('G'));
    EXPECT_EQ(-1, charToInt(';'));
    EXPECT_EQ(-1, charToInt('\0'));
}

TEST(Measurements, ThermistorTableAndClamps)
{
    // 2048 of 4095 is R = 10.005 kilo-ohms, just above the 25 degree point.
    EXPECT_NEAR(24.99f, CalcolaTemp(2048), 0.01f);
    // Between two table points the temperature is interpolated in resistance.
    const float r = 2.521f;  // the 60 degree point exactly
    const int raw60 = static_cast<int>(4095.0f * r / (10.0f + r) + 0.5f);
    EXPECT_NEAR(60.0f, CalcolaTemp(raw60), 0.1f);
    EXPECT_FLOAT_EQ(80.0f, CalcolaTemp(0));       // R = 0: beyond the hot end
    EXPECT_FLOAT_EQ(80.0f, CalcolaTemp(100));     // hotter than the table's 80: clamped
    EXPECT_FLOAT_EQ(-10.0f, CalcolaTemp(4000));   // very cold: clamped
    EXPECT_FLOAT_EQ(-10.0f, CalcolaTemp(4095));   // open sensor: no division by zero
    EXPECT_FLOAT_EQ(80.0f, CalcolaTemp(4096));    // beyond the converter: past the table's
    EXPECT_FLOAT_EQ(80.0f, CalcolaTemp(9999));    // last entry, clamped like the hot end
    // Monotonic: more raw means a higher resistance means colder.
    for (int raw = 100; raw < 4000; raw += 50)
        EXPECT_GE(CalcolaTemp(raw), CalcolaTemp(raw + 50)) << raw;
}

TEST(Measurements, SimulatorThermistorEncodingInvertsTheTable)
{
    for (double t = -9.5; t < 80; t += 0.7)
        EXPECT_NEAR(t, CalcolaTemp(sim::rawFromTemperature(t)), 0.12) << t;
}

TEST(Measurements, CalibrationFactorsByBand)
{
    auto works = freshWorks();
    // Without a band table: the defaults.
    EXPECT_FLOAT_EQ(5.156579e-6f, SearchK(works.get(), K_FWD));
    EXPECT_FLOAT_EQ(3.3262754e-6f, SearchK(works.get(), K_REFL));
    EXPECT_FLOAT_EQ(5.5078103e-6f, SearchK(works.get(), K_IN));
    EXPECT_FLOAT_EQ(-0.007f, SearchK(works.get(), K_DIR));
    EXPECT_FLOAT_EQ(1.0f, SearchK(works.get(), 7));

    works->configRows.resize(3);
    works->configRows[0].freqStart = 1800000;
    works->configRows[0].kFwd = 1e-4f;
    works->configRows[1].freqStart = 3500000;
    works->configRows[1].kFwd = 2e-4f;
    works->configRows[2].freqStart = 7000000;
    works->configRows[2].kFwd = 3e-4f;
    works->frequency = 1800000;
    EXPECT_FLOAT_EQ(1e-4f, SearchK(works.get(), K_FWD));
    works->frequency = 3499999;
    EXPECT_FLOAT_EQ(1e-4f, SearchK(works.get(), K_FWD));
    works->frequency = 3500000;
    EXPECT_FLOAT_EQ(2e-4f, SearchK(works.get(), K_FWD));
    // The last row only closes the range before it; outside every row the defaults apply.
    works->frequency = 7000000;
    EXPECT_EQ(-1, bandRowFor(works.get(), works->frequency));
    EXPECT_FLOAT_EQ(5.156579e-6f, SearchK(works.get(), K_FWD));
    works->frequency = 0;
    EXPECT_FLOAT_EQ(3.3262754e-6f, SearchK(works.get(), K_REFL));
    EXPECT_FLOAT_EQ(1.0f, SearchK(works.get(), 7));
}

TEST(Measurements, SwrFromPowers)
{
    EXPECT_NEAR(2.0f, swrFromPowers(100.0f, 11.1f), 0.01f);
    EXPECT_FLOAT_EQ(1.0f, swrFromPowers(100.0f, 0.0f));
    EXPECT_FLOAT_EQ(100.0f, swrFromPowers(0.2f, 0.6f));   // no forward, reflected power
    EXPECT_FLOAT_EQ(0.0f, swrFromPowers(0.2f, 0.4f));     // no power at all
    EXPECT_FLOAT_EQ(100.0f, swrFromPowers(10.0f, 20.0f)); // more back than forward
    EXPECT_FLOAT_EQ(100.0f, swrFromPowers(10.0f, 10.0f)); // total reflection
    EXPECT_FLOAT_EQ(100.0f, swrFromPowers(10.0f, 9.99f)); // capped
}
