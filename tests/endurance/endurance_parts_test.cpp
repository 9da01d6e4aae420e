// The parts of the endurance campaign runner that judge what they see: the controller's log
// read line by line (the error list, the keys taken, sanitizer reports, the rate), the
// settings files' checks and model, the fault table against the simulated unit's control
// lines, and the plot.
#include "endurance/controller_log.h"
#include "endurance/fault_table.h"
#include "endurance/panel_model.h"
#include "endurance/plot.h"
#include "endurance/settings_check.h"

#include "control.h"
#include "sim_unit.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

using endurance::ControllerLog;

TEST(EnduranceLog, FollowsTheErrorListKeysAndReportsAcrossCutLines)
{
    ControllerLog log;
    // Lines arrive in pieces cut anywhere.
    log.feed("Add: N: 1 err:9\n -->tasto reset errore 0x4\nAdd: N:", 0.2);
    EXPECT_EQ(std::set<int>{9}, log.errors()) << "a cut line waits for its end";
    log.feed(" 2 err:10\nAdd: N: 3 err:4\nkey 6 on bar 0: view\nkey 1 (long) on bar 1: back\n", 0.7);
    EXPECT_EQ((std::set<int>{4, 9, 10}), log.errors());
    log.feed("Del ERROR: N: 2 err:9\n\nDel temp err: 4 (1 , 2)\n", 1.5);
    EXPECT_EQ(std::set<int>{10}, log.errors());
    // "err:1" is not "err:10": the whole number counts.
    log.feed("Del ERROR: N: 1 err:1\n", 1.6);
    EXPECT_EQ(std::set<int>{10}, log.errors());

    const auto keys = log.takeKeys();
    ASSERT_EQ(2u, keys.size());
    EXPECT_EQ(6, keys[0].key);
    EXPECT_EQ(0, keys[0].bar);
    EXPECT_FALSE(keys[0].longPress);
    EXPECT_EQ(1, keys[1].key);
    EXPECT_EQ(1, keys[1].bar);
    EXPECT_TRUE(keys[1].longPress);
    EXPECT_TRUE(log.takeKeys().empty()) << "each key is handed over once";

    EXPECT_EQ("", log.sanitizerLine());
    log.feed("==12==ERROR: AddressSanitizer: heap-use-after-free on address\n", 2.1);
    EXPECT_NE(std::string::npos, log.sanitizerLine().find("heap-use-after-free"));

    // Lines per second of the campaign (the blank line not among them), and the kinds.
    ASSERT_EQ(3u, log.linesPerSecond().size());
    EXPECT_EQ(6u, log.linesPerSecond()[0]);
    EXPECT_EQ(3u, log.linesPerSecond()[1]);
    EXPECT_EQ(1u, log.linesPerSecond()[2]);
    EXPECT_EQ(10u, log.totalLines());
    const auto top = log.topLines(1);
    ASSERT_EQ(1u, top.size());
    EXPECT_EQ("Add: N: # err:#", top[0].first);
    EXPECT_EQ(3u, top[0].second);

    // A new controller starts with an empty list and counts its own lines.
    log.restart();
    EXPECT_TRUE(log.errors().empty());
    log.feed("Listening on port 6666\n", 3);
    EXPECT_EQ(1u, log.count("Listening on port"));
    EXPECT_EQ(0u, log.count("err:"));
}

TEST(EnduranceLog, KindsFoldNumbersAndCutLongLines)
{
    EXPECT_EQ("syslog[#]: BUFFER Wsocket # len #", ControllerLog::kindOf("syslog[6]: BUFFER Wsocket 1234 len 56"));
    EXPECT_EQ(80u, ControllerLog::kindOf(std::string(300, 'x')).size());
}

TEST(EnduranceSettings, SetupHoldsItsKeysAndOnlyValuesTheMenuSet)
{
    endurance::SetupModel model;
    ASSERT_EQ("", model.start("TempMode: 0\nPeak_Time: 300\nServer: 192.168.1.1\n"));
    EXPECT_EQ("", model.check("TempMode: 0\nPeak_Time: 300\nServer: 192.168.1.1\n"));
    EXPECT_NE("", model.check("TempMode: 1\nPeak_Time: 300\nServer: 192.168.1.1\n")) << "never set by the menu";
    model.allow("TempMode", "1");
    EXPECT_EQ("", model.check("TempMode: 1\nPeak_Time: 300\nServer: 192.168.1.1\n"));
    // Cut short by a power cut: the last line without its end, or lines missing.
    EXPECT_NE("", model.check("TempMode: 1\nPeak_Time: 300\nServer: 192.168"));
    EXPECT_NE("", model.check("TempMode: 1\nPeak_Time: 300\n"));
    EXPECT_NE("", model.check(""));
    // Lines that are not "Key: value", a key twice, a key it never had, a NUL byte.
    EXPECT_NE("", model.check("TempMode: 1\nPeak_Time 300\nServer: 192.168.1.1\n"));
    EXPECT_NE("", model.check("TempMode: 1\nTempMode: 1\nPeak_Time: 300\nServer: 192.168.1.1\n"));
    EXPECT_NE("", model.check("TempMode: 1\nPeak_Time: 300\nServer: 192.168.1.1\nOther: 1\n"));
    EXPECT_NE("", model.check(std::string("TempMode: 1\nPeak_Time: 300\nServer: 192.\0.1.1\n", 45)));
    EXPECT_EQ("300", endurance::SetupModel::valueOf("TempMode: 1\nPeak_Time: 300\n", "Peak_Time"));
    EXPECT_EQ("", endurance::SetupModel::valueOf("TempMode: 1\nPeak_Time: 300", "TempMode")) << "a cut file has no values";
}

TEST(EnduranceSettings, BankTablesAndOtherFilesMustBeWhole)
{
    EXPECT_EQ("", endurance::checkBankTable("!Ixo\n40m 7000000 7300000 1 1 0 0 0.0\n20m 14000000 14350000 1 2 0 0 0.0\n"));
    EXPECT_EQ("", endurance::checkBankTable("!Gen\n"));
    EXPECT_NE("", endurance::checkBankTable("40m 7000000 7300000 1 1 0 0 0.0\n")) << "no interface line";
    EXPECT_NE("", endurance::checkBankTable("!Ixo\n40m 7000000 7300000 1 1 0\n")) << "a row cut short";
    EXPECT_NE("", endurance::checkBankTable("!Ixo\n40m 7000000 7300000 1 1 0 0 0.0")) << "no line end";
    EXPECT_NE("", endurance::checkBankTable("!Ixo\n40m 7000000 73x0000 1 1 0 0 0.0\n"));
    EXPECT_EQ("", endurance::checkWholeText(""));
    EXPECT_EQ("", endurance::checkWholeText("1 2 3\n"));
    EXPECT_NE("", endurance::checkWholeText("1 2 3"));
}

// Every row's control lines are ones the simulated unit takes, and every kind has its own
// name: a row that cannot be injected would only show as a campaign that never fails.
TEST(EnduranceFaults, EveryRowInjectsAndEndsOnTheSimulatedUnit)
{
    sim::SimUnit unit(freshTempDir("endurance-faults"));
    sim::BoardPhysics physics;
    const sim::ControlTargets targets{&unit.board(), &physics, unit.frontPanel(), unit.transceivers(),
                                      unit.soundCard(), &unit.usbReceiver()};
    std::set<std::string> names;
    for (const endurance::FaultKind& k : endurance::faultKinds()) {
        EXPECT_TRUE(names.insert(k.name).second) << k.name;
        EXPECT_LE(k.minHold, k.maxHold) << k.name;
        if (k.peer == endurance::PeerAction::None) {
            EXPECT_FALSE(k.start.empty()) << k.name;
            EXPECT_EQ("", sim::applyControlLine(targets, k.start)) << k.name;
            EXPECT_EQ("", sim::applyControlLine(targets, k.end)) << k.name;
        }
        if (k.recovery == endurance::Recovery::ErrorKey) {
            EXPECT_FALSE(k.errors.empty()) << k.name;
        }
    }
    unit.stop();
    std::filesystem::remove_all(unit.root());
}

TEST(EndurancePlot, WritesAPngOfOnePanelPerSeries)
{
    const std::string dir = freshTempDir("endurance-plot");
    std::filesystem::create_directories(dir);
    std::vector<endurance::Series> panels(3);
    for (auto& p : panels) {
        p.title = "RSS (MIB)";
        p.t = {0, 10, 20};
        p.value = {1, 5, 3};
    }
    ASSERT_EQ("", endurance::writePlot(dir + "/plot.png", panels, {5, 15}, 20));
    const std::string png = readFile(dir + "/plot.png");
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), png.substr(0, 8));
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(png[at])) << 24 |
               static_cast<uint32_t>(static_cast<unsigned char>(png[at + 1])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(png[at + 2])) << 8 |
               static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(1200u, be32(16));
    EXPECT_EQ(10u + 3 * 150 + 40, be32(20)) << "three panels stacked";
    EXPECT_NE("", endurance::writePlot(dir + "/no/such/dir/plot.png", panels, {}, 20));
    std::filesystem::remove_all(dir);
}

} // namespace

namespace {

// From every bar the runner may find itself on, its way home reaches the main bar, and the
// menu edits land on the values the menu sets.
TEST(EndurancePanel, EveryBarLeadsHomeAndEditsPredictTheSavedValue)
{
    for (int bar = 0; bar <= 12; ++bar) {
        int at = bar;
        for (int step = 0; step < 4 && at != 0; ++step)
            at = endurance::barAfter(at, endurance::homeKey(at));
        EXPECT_EQ(0, at) << "from bar " << bar;
    }
    // The paths the runner takes: menu (5), edit (6), save (6), back (1); tune, manual,
    // save bar, SAVE.
    EXPECT_EQ(1, endurance::barAfter(0, 5));
    EXPECT_EQ(2, endurance::barAfter(1, 6));
    EXPECT_EQ(2, endurance::barAfter(2, 5));
    EXPECT_EQ(1, endurance::barAfter(2, 6));
    EXPECT_EQ(0, endurance::barAfter(1, 1));
    EXPECT_EQ(3, endurance::barAfter(0, 4));
    EXPECT_EQ(4, endurance::barAfter(3, 6));
    EXPECT_EQ(8, endurance::barAfter(4, 1));
    EXPECT_EQ(3, endurance::barAfter(8, 6));
    EXPECT_EQ(0, endurance::barAfter(0, 6)) << "the view key stays on the main bar";

    // The shorter way round the 32 items, both ways and across the wrap.
    EXPECT_EQ(4, endurance::menuKeyTowards(0, 16));
    EXPECT_EQ(3, endurance::menuKeyTowards(0, 18));
    EXPECT_EQ(4, endurance::menuKeyTowards(30, 2));
    EXPECT_EQ(3, endurance::menuKeyTowards(2, 30));

    const endurance::MenuItem toggle{19, "TempMode", 0}, release{21, "Peak_Time", 10};
    EXPECT_EQ("1", endurance::valueAfter(toggle, "0", 1, true));
    EXPECT_EQ("0", endurance::valueAfter(toggle, "1", 1, false));
    EXPECT_EQ("1", endurance::valueAfter(toggle, "1", 2, true));
    EXPECT_EQ("330", endurance::valueAfter(release, "300", 3, true));
    EXPECT_EQ("0", endurance::valueAfter(release, "10", 3, false)) << "not below 0";
    EXPECT_EQ("5000", endurance::valueAfter(release, "4990", 2, true)) << "not above 5000";
    for (const endurance::MenuItem& m : endurance::editedMenuItems()) {
        EXPECT_GE(m.index, 0);
        EXPECT_LT(m.index, 32);
    }
}

} // namespace
