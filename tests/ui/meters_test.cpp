// The meters' pure logic: SWR scale, dBm read-out, peak hold and decay, needle geometry;
// the frequency read-out and plot scale; the screen loop's timers.
#include "core/works.h"
#include "ui/meters.h"
#include "ui/screen_loop.h"
#include "ui/spectrum_plot.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<Works> defaultWorks()
{
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    return works;
}

TEST(Meters, SwrScaleInterpolatesBetweenItsPairsAndStopsAtBothEnds)
{
    EXPECT_FLOAT_EQ(0, CalcolaSWR(0.5f));
    EXPECT_FLOAT_EQ(0, CalcolaSWR(1.0f));
    EXPECT_FLOAT_EQ(25, CalcolaSWR(2.5f));
    EXPECT_FLOAT_EQ(11, CalcolaSWR(1.5f));
    EXPECT_FLOAT_EQ(55, CalcolaSWR(55.0f));  // halfway between 10 (50) and 100 (60)
    EXPECT_FLOAT_EQ(60, CalcolaSWR(100.0f));
    EXPECT_FLOAT_EQ(60, CalcolaSWR(150.0f));
}

TEST(Meters, PowerReadoutInWattsAndDbmWithDashesBelowOneMilliwatt)
{
    char text[32];
    EXPECT_NEAR(30.0f, ConvertW_to_dBm(1.0f), 1e-5f);
    EXPECT_NEAR(50.0f, ConvertW_to_dBm(100.0f), 1e-5f);
    formatPower(text, sizeof text, 1.0f, true);
    EXPECT_STREQ("30.0dBm", text);
    formatPower(text, sizeof text, 0.0005f, true);
    EXPECT_STREQ("---dBm", text);
    formatPower(text, sizeof text, 0.0f, true);  // no power at all: log of 0
    EXPECT_STREQ("---dBm", text);
    formatPower(text, sizeof text, 0.001f, true);
    EXPECT_STREQ("0.0dBm", text);
    formatPower(text, sizeof text, 7.25f, false);
    EXPECT_STREQ("7.2W", text);
}

TEST(Meters, NewPeakIsHeldThenSinksEverySecondFrameThenFollowsTheAverage)
{
    auto works = defaultWorks();
    works->pkFwd = 50;
    CalcolaPwrPeak(works.get(), 80);
    EXPECT_FLOAT_EQ(80, works->pkFwd);
    EXPECT_EQ(3000, works->pkFwdHoldMs);
    // A lower reading during the hold changes nothing; the decay takes 1 W every second frame.
    CalcolaPwrPeak(works.get(), 10);
    EXPECT_FLOAT_EQ(80, works->pkFwd);
    std::vector<float> held;
    for (int frame = 0; frame < 4; ++frame) {
        decayPeak(works->pkFwdHoldMs, works->pkFwdCnt, works->pkFwd, 100);
        held.push_back(works->pkFwd);
    }
    EXPECT_EQ((std::vector<float>{80, 79, 79, 78}), held);
    EXPECT_EQ(2600, works->pkFwdHoldMs);
    // Once the hold has run out the decay stops and the held value follows the readings.
    decayPeak(works->pkFwdHoldMs, works->pkFwdCnt, works->pkFwd, 5000);
    const float afterHold = works->pkFwd;
    decayPeak(works->pkFwdHoldMs, works->pkFwdCnt, works->pkFwd, 100);
    EXPECT_FLOAT_EQ(afterHold, works->pkFwd);
    CalcolaPwrPeak(works.get(), 10);
    EXPECT_FLOAT_EQ((2 * afterHold + 10) / 3, works->pkFwd);
    // The right meter keeps its own peak.
    CalcolaPwrPeak2(works.get(), 5);
    EXPECT_FLOAT_EQ(5, works->pkAux);
    EXPECT_FLOAT_EQ((2 * afterHold + 10) / 3, works->pkFwd);
}

TEST(Meters, NeedleAngleAndTipPixelFollowTheScaleFormula)
{
    constexpr float meterPi = 3.141692653f;
    EXPECT_FLOAT_EQ(0.24f * meterPi, needleAngle(0, 60));
    EXPECT_FLOAT_EQ(-0.24f * meterPi, needleAngle(60, 60));
    EXPECT_FLOAT_EQ(-0.24f * meterPi, needleAngle(120, 120));
    // Zero up and to the left, full scale mirrored to the right, mid scale straight up.
    EXPECT_EQ(62, needleTip(METER_LEFT_X, needleAngle(0, 60)).x);
    EXPECT_EQ(125, needleTip(METER_LEFT_X, needleAngle(0, 60)).y);
    EXPECT_EQ(357, needleTip(METER_LEFT_X, needleAngle(60, 60)).x);
    EXPECT_EQ(125, needleTip(METER_LEFT_X, needleAngle(60, 60)).y);
    EXPECT_EQ(156, needleTip(METER_LEFT_X, needleAngle(20, 60)).x);
    EXPECT_EQ(80, needleTip(METER_LEFT_X, needleAngle(20, 60)).y);
    EXPECT_EQ(589, needleTip(METER_RIGHT_X, needleAngle(30, 60)).x);
    EXPECT_EQ(74, needleTip(METER_RIGHT_X, needleAngle(30, 60)).y);
}

TEST(ScreenLoop, SaverCountsWholeElapsedMinutesForEveryChoice)
{
    const int64_t key = 1000;
    EXPECT_FALSE(screenSaverDue(key + 5 * 60000 - 1, key, 0));
    EXPECT_TRUE(screenSaverDue(key + 5 * 60000, key, 0));
    // The longest choice starts too (60 minutes are not minute 0 of the next hour).
    EXPECT_FALSE(screenSaverDue(key + 60 * 60000 - 1, key, 4));
    EXPECT_TRUE(screenSaverDue(key + 60 * 60000, key, 4));
    EXPECT_TRUE(screenSaverDue(key + 3 * 3600000, key, 4));
    // An index out of range reads as the nearest choice.
    EXPECT_TRUE(screenSaverDue(key + 60 * 60000, key, 9));
    EXPECT_FALSE(screenSaverDue(key + 59 * 60000, key, 9));
}

TEST(ScreenLoop, FrameTimersCountTheHoldOffDownAndDecayBothPeaks)
{
    auto works = defaultWorks();
    works->retryErrHold = 2000;
    works->pkFwdHoldMs = 200;
    works->pkFwd = 10;
    works->pkAuxHoldMs = 200;
    works->pkAux = 0.5f;
    works->pkAuxCnt = 1;
    frameTimers(works.get(), 1500);
    EXPECT_EQ(500, works->retryErrHold);
    EXPECT_EQ(1, works->pkFwdCnt);
    EXPECT_FLOAT_EQ(0, works->pkAux);  // never below 0
    frameTimers(works.get(), 1500);
    EXPECT_EQ(0, works->retryErrHold);
    frameTimers(works.get(), 60);
    EXPECT_EQ(0, works->retryErrHold);
    // Without the log running no time is gathered for it.
    EXPECT_EQ(0, works->logTempMs);
    works->enableLogTemp = 1;
    works->logTempRemoved = 1;
    frameTimers(works.get(), 1200);
    frameTimers(works.get(), 1300);
    EXPECT_EQ(2500, works->logTempMs);
}

TEST(SpectrumPlot, ReadoutUnitsAndScaleRows)
{
    char text[32];
    formatFrequency(text, sizeof text, 14070000.0f);
    EXPECT_STREQ("14.070MHz", text);
    formatFrequency(text, sizeof text, 999999.0f);
    EXPECT_STREQ("999.999kHz", text);
    formatFrequency(text, sizeof text, 500.0f);
    EXPECT_STREQ("500Hz", text);
    InitGrid();
    EXPECT_FLOAT_EQ(145, CalculatePoint(-110, -10, 0, -60).y);
    EXPECT_FLOAT_EQ(60, CalculatePoint(-110, -10, 0, 20).y);
    EXPECT_FLOAT_EQ(230, CalculatePoint(-110, -10, 0, -200).y);
    EXPECT_FLOAT_EQ(70, CalculatePoint(-110, -10, 0, -60).x);
}

} // namespace
