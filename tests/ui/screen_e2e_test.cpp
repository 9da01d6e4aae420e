// The real ampctl on a simulated unit: the screen loop's meters, band changes, fault tiles
// and the link's retry hold-off, seen on the wire, in stderr and on the panel file.
#include "amplifier/measurements.h"
#include "platform/clock.h"
#include "station.h"
#include "support/files.h"
#include "support/wire.h"
#include "ui/meters.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using uitest::Rgb;
using uitest::Station;

// Forward power of the board's last status reply, as the controller computes it without a
// band table (default calibration).
float lastForwardWatts(const std::vector<sim::WireEntry>& log)
{
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        const std::string text(sim::frameText(it->frame));
        if (!it->toBoard && text.size() >= 37 && text.compare(0, 2, "ST") == 0) {
            const int raw = std::atoi(text.substr(8, 4).c_str());
            return K_DEFAULT_FWD * static_cast<float>(raw) * static_cast<float>(raw);
        }
    }
    return -1;
}

constexpr Rgb RED{255, 0, 0};

TEST(ScreenE2E, DrivePowerMovesTheForwardNeedleToItsAngle)
{
    Station s("e2e-needle");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    const NeedleTip rest = needleTip(METER_LEFT_X, needleAngle(0, 60));
    ASSERT_TRUE(s.waitForColourNear(rest.x, rest.y, RED, 10)) << "needle at rest on 0";
    // The first view: reflected power on the right meter, the main bar below.
    EXPECT_TRUE(s.waitForPicture("img1", 520, 140, 700, 165, 5, [](FrameBuffer* fb) {
        putString(8, 535, 160, "REFLECTED", 0, 0, 0, fb, 0);
    }));
    EXPECT_TRUE(s.waitForButton(4, "  TUNE", " ", 5));
    // A matched load, so no protection trips and the reading stays put.
    ASSERT_EQ("", s.control("load swr 1.0"));
    ASSERT_EQ("", s.control("drive 2"));
    // The needle's tip where the formula puts the board's latest forward reading.
    float watts = 0;
    NeedleTip tip{};
    bool shown = false;
    for (int attempt = 0; attempt < 100 && !shown; ++attempt) {
        usleep(100000);
        watts = lastForwardWatts(s.unit().wireLog());
        if (watts < 1.0f)
            continue;
        tip = needleTip(METER_LEFT_X, needleAngle(std::min(watts, 60.0f), 60));
        shown = s.waitForColourNear(tip.x, tip.y, RED, 0.05);
    }
    EXPECT_TRUE(shown) << watts << " W at " << tip.x << "," << tip.y;
    s.screenshot("e2e_needle");
    EXPECT_NE(RED, s.panelPixel(rest.x, rest.y)) << "the needle left 0";
}

// Replaces the root's my_temp at once (a new file renamed over the old, so a shell that
// is reading the old one never sees half of the new).
void replaceMyTemp(const std::string& root, const std::string& body)
{
    const std::string path = root + "/bin/my_temp";
    writeFile(path + ".new", "#!/bin/sh\n" + body);
    std::filesystem::permissions(path + ".new", std::filesystem::perms::owner_all);
    std::filesystem::rename(path + ".new", path);
}

size_t occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The processor-temperature helper hangs from the start: the screen loop draws on (the
// needle follows the drive) and the failure is logged once for the whole streak; a helper
// that then fails at once belongs to the same streak; one that answers ends it (logged
// once), and a new failing streak is logged once more.
TEST(ScreenE2E, HungOrFailingMyTempNeitherStopsFramesNorFloodsTheLog)
{
    Station s("e2e-mytemp", [](const std::string& root) { replaceMyTemp(root, "exec sleep 1000\n"); });
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    const NeedleTip rest = needleTip(METER_LEFT_X, needleAngle(0, 60));
    ASSERT_TRUE(s.waitForColourNear(rest.x, rest.y, RED, 20)) << "frames are drawn";
    ASSERT_EQ("", s.control("load swr 1.0"));
    ASSERT_EQ("", s.control("drive 2"));
    bool moved = false;
    for (int i = 0; i < 200 && !moved; ++i) {
        usleep(100000);
        moved = s.panelPixel(rest.x, rest.y) != RED;
    }
    EXPECT_TRUE(moved) << "the needle follows the drive while my_temp hangs";
    const char* failed = "ReadCPUTemp: no reading from my_temp";
    EXPECT_TRUE(s.ctl().waitForStderr("no reading from my_temp (no answer within the time-out)", 30));

    replaceMyTemp(s.unit().root(), "exit 1\n");
    sleep(3);
    EXPECT_EQ(1u, occurrences(s.ctl().stderrText(), failed)) << "one line for the streak";

    replaceMyTemp(s.unit().root(), "echo 52.5\necho \"temp=48.3'C\"\n");
    EXPECT_TRUE(s.ctl().waitForStderr("ReadCPUTemp: my_temp reads again after", 30)) << s.ctl().stderrText();
    replaceMyTemp(s.unit().root(), "exit 1\n");
    EXPECT_TRUE(s.ctl().waitForStderr(failed, 30, 2));
    sleep(3);
    EXPECT_EQ(2u, occurrences(s.ctl().stderrText(), failed)) << s.ctl().stderrText();
}

// The commands the host sent after entry `from`, without the status and frequency polls
// and the fan speed (which follows the temperatures on its own).
std::vector<std::string> commandsAfter(const std::vector<sim::WireEntry>& log, size_t from)
{
    std::vector<std::string> out;
    for (const std::string& t : hostTexts(log, from))
        if (t != "ST;" && t != "FM;" && t.compare(0, 2, "FN") != 0)
            out.push_back(t);
    return out;
}

TEST(ScreenE2E, MeasuredFrequencyIntoAnotherBandSendsTheRowOnceInOrder)
{
    Station s("e2e-band", [](const std::string& root) {
        std::filesystem::create_directories(root + "/opt/set");
        writeFile(root + "/opt/set/antenna_b1.txt",
                  "!Gen\n160m 1800000 2000000 0 1 1 0 0.0\n40m 7000000 7300000 1 3 1 1 0.0\n"
                  "20m 14000000 14350000 1 2 0 2 0.0\n");
    });
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    // The first frame finds no band at 0 Hz and sends the default thresholds (the second
    // time, after start-up's own).
    ASSERT_TRUE(s.unit().waitForFrame("TS4095409515003700;", true, 10, 2, true));
    const size_t mark = s.unit().wireLog().size();
    ASSERT_EQ("", s.control("frequency 14100000"));
    ASSERT_TRUE(s.unit().waitForFrame("AT10;", true, 10, 1, true)) << s.ctl().stderrText();
    sleep(1);
    // The 20 m row: antenna 2, the tuner's network zeroed (nothing stored), the amplifier
    // in line when it was bypassed, 3 dB; each once. The 40 m row: antenna 3, tuner
    // bypassed, 2 dB.
    std::vector<std::string> sent = commandsAfter(s.unit().wireLog(), mark);
    std::vector<std::string> expected = {"SA2;", "MT100800000;"};
    if (std::find(sent.begin(), sent.end(), "AB0;") != sent.end())
        expected.push_back("AB0;");
    expected.push_back("AT10;");
    EXPECT_EQ(expected, sent);

    const size_t mark40 = s.unit().wireLog().size();
    ASSERT_EQ("", s.control("frequency 7050000"));
    ASSERT_TRUE(s.unit().waitForFrame("AT01;", true, 10, 1, true)) << s.ctl().stderrText();
    sleep(1);
    EXPECT_EQ((std::vector<std::string>{"SA3;", "MT100010000;", "AT01;"}), commandsAfter(s.unit().wireLog(), mark40));
}

TEST(ScreenE2E, HotBoardShowsItsFaultTile)
{
    Station s("e2e-hot");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("physics off"));
    ASSERT_EQ("", s.control("reading rawTherm1 100"));  // 80 degrees on the first sensor
    ASSERT_TRUE(s.ctl().waitForStderr("TEMP ALLARM", 20)) << s.ctl().stderrText();
    // Error 2 ("1-High temperature") is a severe fault: a red tile in the first place.
    EXPECT_TRUE(s.waitForColourNear(8, 373, {255, 30, 0}, 5));
    s.screenshot("e2e_hot_board");
}

TEST(ScreenE2E, LinkHoldOffCountsDownBetweenTwoCommErrors)
{
    Station s("e2e-holdoff");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    const std::regex stopLine(R"(STOP RETRAY!! FM \(\d+, \d+\) Restart da ST \(Timer: (\d+)\))");
    auto timers = [&]() {
        std::vector<int> out;
        const std::string err = s.ctl().stderrText();
        for (std::sregex_iterator it(err.begin(), err.end(), stopLine), end; it != end; ++it)
            out.push_back(std::stoi((*it)[1]));
        return out;
    };
    s.unit().board().injectFault(sim::Fault::silence(4, "FM"));
    ASSERT_TRUE(s.ctl().waitForStderr("STOP RETRAY!! FM", 20)) << s.ctl().stderrText();
    const double first = monoSeconds();
    ASSERT_TRUE(s.ctl().waitForStderr("Add: N: 1 err:4", 5));
    s.unit().board().injectFault(sim::Fault::silence(4, "FM"));
    ASSERT_TRUE(s.ctl().waitForStderr("STOP RETRAY!! FM", 20, 2));
    const double second = monoSeconds();
    std::vector<int> t = timers();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ(2000, t[0]);
    // The second failure within the hold-off finds it counting down (or, on a very slow
    // machine, already over and armed again).
    if (second - first < 1.8) {
        EXPECT_LT(t[1], 2000);
    }
    EXPECT_GT(t[1], 0);
    // Once the hold-off is over the next failure arms it again.
    sleep(3);
    s.unit().board().injectFault(sim::Fault::silence(4, "FM"));
    ASSERT_TRUE(s.ctl().waitForStderr("STOP RETRAY!! FM", 20, 3));
    t = timers();
    ASSERT_EQ(3u, t.size());
    EXPECT_EQ(2000, t[2]);
    // The comm warning makes key 1 the RESET key.
    EXPECT_TRUE(s.waitForButton(1, "RESET", " Error ", 5));
    s.screenshot("e2e_comm_error");
}

} // namespace
