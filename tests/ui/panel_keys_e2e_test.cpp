// The real ampctl on a simulated unit, driven through its front-panel buttons: the views,
// the bank table page, antenna and attenuator keys, the tune bar, and the RESET key.
#include "platform/clock.h"
#include "station.h"
#include "support/files.h"
#include "support/wire.h"
#include "ui/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using uitest::Station;

constexpr int SHORT_MS = 100;
constexpr int LONG_MS = 900;  // well over the default long-press time of 0.5 s

TEST(PanelKeysE2E, ViewKeyStepsTheRightMeterThenTheSpectrumAndKeyOneShowsTheBankTable)
{
    Station s("e2e-keys-views");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    auto label = [](const char* text, int x) {
        return [=](FrameBuffer* fb) { putString(8, x, 160, text, 0, 0, 0, fb, 0); };
    };
    EXPECT_TRUE(s.waitForPicture("img1", 520, 140, 700, 165, 10, label("REFLECTED", 535)));
    s.press(6, SHORT_MS, "type to 2");
    EXPECT_TRUE(s.waitForPicture("img3", 520, 140, 700, 165, 10, label("SWR", 570)));
    EXPECT_TRUE(s.waitForButton(6, "   VIEW ", "    2", 5));
    s.press(6, SHORT_MS, "type to 3");
    EXPECT_TRUE(s.waitForPicture("img1", 520, 140, 700, 165, 10, label("PRWIN", 560)));
    s.press(6, SHORT_MS, "type to 4");
    // The spectrum view: its picture with the grid's dB label, no meter labels.
    EXPECT_TRUE(s.waitForPicture("m5a", 520, 140, 700, 165, 10, [](FrameBuffer* fb) {
        for (int y : {145, 162})
            DrawHorizontalLine(70, y, 758, 120, 120, 120, fb, 0);
        DrawLine(543, 60, 543, 230, 120, 120, 120, fb, 0);
        DrawLine(586, 60, 586, 230, 120, 120, 120, fb, 0);
        DrawLine(629, 60, 629, 230, 120, 120, 120, fb, 0);
        DrawLine(672, 60, 672, 230, 120, 120, 120, fb, 0);
    }));
    s.screenshot("e2e_keys_spectrum");
    s.press(6, SHORT_MS, "type to 5");
    s.press(6, SHORT_MS, "type to 1");

    // A long press of key 1 opens the bank table page on its picture; key 1 closes it.
    s.press(1, LONG_MS, "key 1 (long) on bar 0");
    // The picture above the page's title.
    EXPECT_TRUE(s.waitForPicture("statusB", 0, 0, 799, 28, 10));
    EXPECT_TRUE(s.waitForButton(2, " INTERF", "Generic", 5));
    s.screenshot("e2e_keys_bank_table");
    s.press(1, SHORT_MS, "key 1 on bar 6: back");
    EXPECT_TRUE(s.waitForButton(1, "  MEM", "BANK1", 10));
    EXPECT_TRUE(s.waitForPicture("img1", 0, 0, 799, 20, 10));
}

TEST(PanelKeysE2E, AntennaAndAttenuatorKeysOnTheWireAndInTheBank)
{
    Station s("e2e-keys-ant");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("frequency 14100000"));
    ASSERT_TRUE(s.unit().waitForFrame("MT100010000;", true, 10, 1, true)) << "the 20 m row applied";
    s.press(3, SHORT_MS, "key 3 on bar 0: antenna");
    ASSERT_TRUE(s.unit().waitForFrame("SA2;", true, 10, 1, true));
    EXPECT_TRUE(s.waitForButton(3, "   ANT", "     2", 5));
    // The bank's table holds the new antenna on the 20 m row.
    std::string table;
    for (int i = 0; i < 50 && table.find("20m 14000000 14350000 0 2 ") == std::string::npos; ++i) {
        usleep(100000);
        table = readFile(s.unit().path("opt/set/antenna_b1.txt"));
    }
    EXPECT_NE(std::string::npos, table.find("20m 14000000 14350000 0 2 ")) << table;
    // The row keeps the amplifier in stand-by: the attenuator key first leaves it (0 dB),
    // then steps to 2 dB.
    EXPECT_TRUE(s.waitForButton(2, " IN-ATT", "  StBy", 5));
    const size_t mark = s.unit().wireLog().size();
    s.press(2, SHORT_MS, "key 2 on bar 0: attenuator");
    EXPECT_TRUE(s.waitForButton(2, " IN-ATT", "  0dB", 10));
    s.press(2, SHORT_MS, "key 2 on bar 0: attenuator");
    EXPECT_TRUE(s.waitForButton(2, " IN-ATT", "  2dB", 10));
    // The label shows the step as soon as the key is handled; its command goes on the wire
    // at the link's next turn.
    EXPECT_TRUE(s.unit().waitForFrames(
        [&](const std::vector<sim::WireEntry>& log) {
            const std::vector<std::string> t = hostTexts(log, mark);
            return std::find(t.begin(), t.end(), "AT01;") != t.end();
        },
        10));
    std::vector<std::string> sent;
    for (const std::string& t : hostTexts(s.unit().wireLog(), mark))
        if (t != "ST;" && t != "FM;" && t.compare(0, 2, "FN") != 0)
            sent.push_back(t);
    EXPECT_EQ((std::vector<std::string>{"AT00;", "AB0;", "AT01;"}), sent);
}

TEST(PanelKeysE2E, TuneBarKeysStartSearchesAndKeyOneReturns)
{
    Station s("e2e-keys-tune", [](const std::string& root) {
        std::filesystem::create_directories(root + "/opt/set");
        writeFile(root + "/opt/set/setup.txt", "AutoTuneMode: 1\n");
    });
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("frequency 14100000"));
    ASSERT_EQ("", s.control("drive 5"));
    s.press(4, SHORT_MS, "key 4 on bar 0: tune bar");
    EXPECT_TRUE(s.waitForButton(4, "  TUNE", "   Off", 5));
    s.screenshot("e2e_keys_tune_bar");
    // The tuner is bypassed on this row: the bypass key puts it in line first.
    s.press(5, SHORT_MS, "key 5 on bar 3: tuner bypass");
    size_t mark = s.unit().wireLog().size();
    s.press(4, SHORT_MS, "key 4 on bar 3: tune");
    ASSERT_TRUE(s.ctl().waitForStderr("START AUTO TUNE", 10));
    // The search's burst on the wire: protection on, the tuning attenuator, thresholds,
    // clear, protection off.
    auto burstSince = [&](size_t from) {
        return s.unit().waitForFrames(
            [&](const auto& log) {
                const std::vector<std::string> sent = hostTexts(log, from);
                auto on = std::find(sent.begin(), sent.end(), "MP1;");
                return on != sent.end() && std::find(on, sent.end(), "CPFFFF;") != sent.end() &&
                       std::find(on, sent.end(), "MP0;") != sent.end();
            },
            10);
    };
    EXPECT_TRUE(burstSince(mark));
    // The tune key again ends the search; key 3 starts the fine search, and ends it.
    s.press(4, SHORT_MS, "key 4 on bar 3: tune");
    mark = s.unit().wireLog().size();
    s.press(3, SHORT_MS, "key 3 on bar 3: fine tune");
    ASSERT_TRUE(s.ctl().waitForStderr("TUNE FINE", 10));
    EXPECT_TRUE(burstSince(mark));
    s.press(3, SHORT_MS, "key 3 on bar 3: fine tune");
    // The aborted searches listed a warning: key 1 clears it first, then returns.
    s.press(1, SHORT_MS, "ERRORI");
    s.press(1, SHORT_MS, "key 1 on bar 3: back");
    EXPECT_TRUE(s.waitForButton(4, "  TUNE", " ", 10));
    EXPECT_TRUE(s.waitForButton(6, "   VIEW ", "    1", 5));
}

TEST(PanelKeysE2E, ResetKeyClearsAProtectionFaultThroughTheBiasResetBurst)
{
    Station s("e2e-keys-reset");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("physics off"));
    ASSERT_EQ("", s.control("reading fault 2"));  // reflected-power protection tripped
    ASSERT_TRUE(s.ctl().waitForStderr("err:15", 10)) << s.ctl().stderrText();
    EXPECT_TRUE(s.waitForButton(1, "RESET", " Error ", 5));
    EXPECT_TRUE(s.waitForColourNear(8, 373, {255, 30, 0}, 5));
    s.screenshot("e2e_keys_fault");
    const size_t mark = s.unit().wireLog().size();
    s.press(1, SHORT_MS, "ResetBiasCmd");
    ASSERT_TRUE(s.ctl().waitForStderr("End Gest Errori", 10));
    ASSERT_EQ("", s.control("reading fault 0"));  // the board's protection released
    // The burst in its order: clear the protection, protection off, amplifier state, attenuator.
    std::vector<std::string> burst;
    for (const std::string& t : hostTexts(s.unit().wireLog(), mark))
        if (t == "CPFFFF;" || t == "MP0;" || t == "AB0;" || t == "AB1;" || t.compare(0, 2, "AT") == 0)
            burst.push_back(t.compare(0, 2, "AB") == 0 ? "AB" : t.compare(0, 2, "AT") == 0 ? "AT" : t);
    std::string all;
    for (const auto& t : hostTexts(s.unit().wireLog(), mark))
        all += t + " ";
    ASSERT_GE(burst.size(), 4u) << all;
    EXPECT_EQ((std::vector<std::string>{"CPFFFF;", "MP0;", "AB", "AT"}),
              std::vector<std::string>(burst.begin(), burst.begin() + 4));
    // The fault is gone from the screen.
    EXPECT_TRUE(s.waitForButton(1, "  MEM", "BANK1", 10));
    EXPECT_TRUE(s.waitForPicture("img1", 5, 370, 130, 415, 10));

    // A comm error (4) after the hold-off can be listed again once RESET removed it.
    s.unit().board().injectFault(sim::Fault::silence(4, "FM"));
    ASSERT_TRUE(s.ctl().waitForStderr("err:4\n", 20));
    s.press(1, SHORT_MS, "Del temp err: 4");
    sleep(3);
    s.unit().board().injectFault(sim::Fault::silence(4, "FM"));
    EXPECT_TRUE(s.ctl().waitForStderr("err:4\n", 20, 2)) << s.ctl().stderrText();
}

} // namespace
