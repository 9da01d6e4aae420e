// The real ampctl on a simulated unit, driven only by its front-panel buttons: the settings
// menu walked both ways, one value of each kind edited and saved (setup.txt and the
// network file on disk, and again after a restart), the bank's memory table page edited,
// saved and discarded, and the bank reset and factory default with their confirmations.
#include "config/network.h"
#include "core/setup.h"
#include "core/works.h"
#include "station.h"
#include "support/files.h"
#include "support/wire.h"
#include "ui/menu.h"
#include "ui/menu_items.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

using uitest::Station;

// Presses long enough to be read by a button thread slowed by a loaded machine, well short
// of the long press (0.5 s).
constexpr int SHORT_MS = 250;
constexpr int LONG_MS = 900;

const char* const UP = "key 3 on bar 1: item up";
const char* const DOWN = "key 4 on bar 1: item down";
const char* const OPEN = "key 6 on bar 1: edit item";
const char* const CONFIRM = "key 6 on bar 2: confirm";
const char* const PLUS = "key 5 on bar 2: plus";

// The three menu rows (band and texts, x 1..799) as the controller draws them for a unit
// in its default state changed by `state`, on `page` (1 browse, 2 edit).
bool waitForMenu(Station& s, int item, int page, const std::function<void(Works*)>& state = {})
{
    return s.waitForPanelMatch(
        [&](FrameBuffer* fb) {
            auto works = std::make_unique<Works>();
            auto setup = std::make_unique<Orvosetup>();
            works->setup = setup.get();
            initSetup(works.get());
            works->running = 0;
            works->fb = fb;
            works->menuCount = MENU_ITEMS;
            works->menuIdx = item;
            works->pageIdx = page;
            if (state)
                state(works.get());
            DrawParameters(works.get());
        },
        1, 285, 799, 364, 10);
}

// The simulated unit's own network values, as the settings pages show them.
void simLanValues()
{
    setLanAddresses({"192.168.1.42", "255.255.255.0", "192.168.1.1", "192.168.1.1"});
}

void pressTimes(Station& s, int key, int times, const char* logLine)
{
    for (int i = 0; i < times; ++i)
        s.press(key, SHORT_MS, logLine);
}

std::string waitForFileChange(Station& s, const std::string& relative, const std::string& old)
{
    std::string now = readFile(s.unit().path(relative));
    for (int i = 0; i < 100 && now == old; ++i) {
        usleep(100000);
        now = readFile(s.unit().path(relative));
    }
    return now;
}

void replaceLine(std::string& text, const std::string& from, const std::string& to)
{
    const size_t at = text.find("\n" + from + "\n");
    ASSERT_NE(std::string::npos, at) << from << "\n" << text;
    text.replace(at + 1, from.size(), to);
}

TEST(MenuE2E, WalkBothWaysEditEachKindSaveAndSeeItAfterARestart)
{
    Station s("e2e-menu");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    const std::string setupBefore = readFile(s.unit().path("opt/set/setup.txt"));
    ASSERT_NE(std::string::npos, setupBefore.find("FreqPeriodTime: 10\n")) << setupBefore;
    simLanValues();

    s.press(5, SHORT_MS, "key 5 on bar 0: settings");
    EXPECT_TRUE(s.waitForButton(1, " BACK ", " ", 5));
    EXPECT_TRUE(waitForMenu(s, 0, 1));
    s.screenshot("e2e_menu_first_item");
    // Up from the first item wraps to the last, down from the last to the first.
    s.press(3, SHORT_MS, UP);
    EXPECT_TRUE(waitForMenu(s, 31, 1));
    s.screenshot("e2e_menu_last_item");
    s.press(4, SHORT_MS, DOWN);
    EXPECT_TRUE(waitForMenu(s, 0, 1));
    pressTimes(s, 4, 15, DOWN);
    EXPECT_TRUE(waitForMenu(s, 15, 1));
    s.screenshot("e2e_menu_middle_item");
    pressTimes(s, 4, 17, DOWN);
    EXPECT_TRUE(waitForMenu(s, 0, 1)) << "32 steps down come back to the first item";
    pressTimes(s, 3, 32, UP);
    EXPECT_TRUE(waitForMenu(s, 0, 1)) << "32 steps up come back to the first item";

    // A number: Period (ms) up twice by 10; ENTER sends the counter's settings and saves.
    pressTimes(s, 4, 2, DOWN);
    s.press(6, SHORT_MS, OPEN);
    EXPECT_TRUE(s.waitForButton(2, " ", " ", 5)) << "no cursor keys on a number";
    pressTimes(s, 5, 2, PLUS);
    EXPECT_TRUE(waitForMenu(s, 2, 2, [](Works* w) { w->freqPeriodTime = 30; }));
    s.screenshot("e2e_menu_edit_number");
    s.press(6, SHORT_MS, CONFIRM);
    EXPECT_TRUE(s.unit().waitForFrame("FS00003;", true, 10, 1, true));

    // A choice: AutoTune Timeout one step on.
    pressTimes(s, 4, 4, DOWN);
    s.press(6, SHORT_MS, OPEN);
    s.press(5, SHORT_MS, PLUS);
    s.press(6, SHORT_MS, CONFIRM);

    // An address octet: the IP's cursor one octet left, that octet up by one; ENTER
    // writes the network file and restarts the interfaces.
    pressTimes(s, 4, 3, DOWN);
    s.press(6, SHORT_MS, OPEN);
    EXPECT_TRUE(s.waitForButton(2, " < ", " ", 5)) << "the cursor keys on an address";
    s.press(2, SHORT_MS, "key 2 on bar 2: cursor left");
    s.press(5, SHORT_MS, PLUS);
    EXPECT_TRUE(waitForMenu(s, 9, 2, [](Works*) {
        modifyLanValue(LAN_IP, 3);
        modifyLanValue(LAN_IP, 2);
    }));
    s.screenshot("e2e_menu_edit_address");
    const std::string interfacesBefore = readFile(s.unit().path("etc/network/interfaces"));
    s.press(6, SHORT_MS, CONFIRM);
    std::string interfaces = waitForFileChange(s, "etc/network/interfaces", interfacesBefore);
    std::string expectedInterfaces = interfacesBefore;
    replaceLine(expectedInterfaces, "address 192.168.1.42", "address 192.168.2.42");
    EXPECT_EQ(expectedInterfaces, interfaces);
    for (int i = 0; i < 50 && readFile(s.unit().path("sim/ifup.log")).empty(); ++i)
        usleep(100000);
    EXPECT_EQ("--exclude=lo -a\n", readFile(s.unit().path("sim/ifdown.log")));
    EXPECT_EQ("--exclude=lo -a\n", readFile(s.unit().path("sim/ifup.log")));

    // A switch: the temperature units.
    pressTimes(s, 4, 10, DOWN);
    s.press(6, SHORT_MS, OPEN);
    s.press(5, SHORT_MS, PLUS);
    s.press(6, SHORT_MS, CONFIRM);
    s.press(1, SHORT_MS, "key 1 on bar 1: back");
    EXPECT_TRUE(s.waitForButton(1, "  MEM", "BANK1", 5));

    // setup.txt holds exactly the three changed values, in its own format.
    std::string expectedSetup = setupBefore;
    replaceLine(expectedSetup, "FreqPeriodTime: 10", "FreqPeriodTime: 30");
    replaceLine(expectedSetup, "AutoTuneMaxCicli: 0", "AutoTuneMaxCicli: 1");
    replaceLine(expectedSetup, "TempMode: 0", "TempMode: 1");
    EXPECT_EQ(expectedSetup, readFile(s.unit().path("opt/set/setup.txt")));

    // After a restart the menu shows the saved values.
    s.restart();
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    auto saved = [](Works* w) {
        w->freqPeriodTime = 30;
        w->autoTuneMaxCicli = 1;
        w->tempMode = 1;
        setLanAddresses({"192.168.2.42", "255.255.255.0", "192.168.1.1", "192.168.1.1"});
    };
    s.press(5, SHORT_MS, "key 5 on bar 0: settings");
    pressTimes(s, 4, 2, DOWN);
    EXPECT_TRUE(waitForMenu(s, 2, 1, saved));
    pressTimes(s, 4, 4, DOWN);
    EXPECT_TRUE(waitForMenu(s, 6, 1, saved));
    pressTimes(s, 4, 3, DOWN);
    EXPECT_TRUE(waitForMenu(s, 9, 1, saved));
    pressTimes(s, 4, 10, DOWN);
    EXPECT_TRUE(waitForMenu(s, 19, 1, saved));
    EXPECT_EQ("", s.ctl().sanitizerReports());
}

// The default band table as the bank file holds it, with row 2 (80 m) changed.
std::string bankFile(const char* row80m)
{
    return std::string("!Gen\n"
                       "160m 1800000 2000000 0 1 1 0 0.0\n") +
           row80m +
           "60m 5330500 5450000 0 1 1 0 0.0\n"
           "40m 7000000 7300000 0 1 1 0 0.0\n"
           "30m 10100000 10150000 0 1 1 0 0.0\n"
           "20m 14000000 14350000 0 1 1 0 0.0\n"
           "17m 18068000 18168000 0 1 1 0 0.0\n"
           "15m 21000000 21450000 0 1 1 0 0.0\n"
           "12m 24890000 24990000 0 1 1 0 0.0\n"
           "10m 28000000 29700000 0 1 1 0 0.0\n"
           "6m 50000000 54000000 0 1 1 0 0.0\n";
}

TEST(MenuE2E, MemoryTablePageEditsARowSavesItExactlyAndDiscardReloadsIt)
{
    Station s("e2e-memtable");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    s.press(1, LONG_MS, "key 1 (long) on bar 0");
    EXPECT_TRUE(s.waitForButton(6, " ENTER", " ", 5));
    usleep(500000);
    s.screenshot("e2e_memory_table");
    s.press(4, SHORT_MS, "key 4 on bar 6: row down");
    s.press(6, SHORT_MS, "key 6 on bar 6: edit table");
    s.press(4, SHORT_MS, "key 4 on bar 7: cell up");  // power 0.0 -> 0.1
    s.press(3, SHORT_MS, "key 3 on bar 7: column right");
    s.press(4, SHORT_MS, "key 4 on bar 7: cell up");  // attenuator 0 -> 1 (2 dB)
    s.press(3, SHORT_MS, "key 3 on bar 7: column right");
    s.press(5, SHORT_MS, "key 5 on bar 7: cell down");  // amplifier enabled
    usleep(500000);  // a few frames, for the picture
    s.screenshot("e2e_memory_table_edit");
    const std::string before = readFile(s.unit().path("opt/set/antenna_b1.txt"));
    s.press(6, SHORT_MS, "key 6 on bar 7: save table");
    const std::string saved = bankFile("80m 3500000 4000000 1 1 1 1 0.1\n");
    EXPECT_EQ(saved, waitForFileChange(s, "opt/set/antenna_b1.txt", before));

    // An edit dropped with key 1: the bank's table is read again, so the next save holds
    // the saved row, not the dropped change.
    s.press(3, SHORT_MS, "key 3 on bar 7: column right");
    s.press(4, SHORT_MS, "key 4 on bar 7: cell up");  // antenna 1 -> 2, then dropped
    s.press(1, SHORT_MS, "key 1 on bar 7: drop edits");
    s.press(6, SHORT_MS, "key 6 on bar 6: edit table");
    s.press(6, SHORT_MS, "key 6 on bar 7: save table");
    sleep(1);
    EXPECT_EQ(saved, readFile(s.unit().path("opt/set/antenna_b1.txt")));
    EXPECT_EQ("", s.ctl().sanitizerReports());
}

TEST(MenuE2E, BankResetAndFactoryDefaultDeleteTheirFilesOnlyAfterConfirmation)
{
    Station s("e2e-reset", [](const std::string& root) {
        std::filesystem::create_directories(root + "/opt/set");
        for (const char* name : {"antenna_b2.txt", "atu_ant1_b2.txt", "atu_ant3_b2.txt", "atu_ant2.txt",
                                 "antenna_b19.txt"})
            writeFile(root + "/opt/set/" + name, "!Gen\n");
        writeFile(root + "/opt/set/setup.txt", "TempMode: 1\n");
    });
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    auto exists = [&](const char* name) { return std::filesystem::exists(s.unit().path("opt/set/") + name); };

    // Bank reset: bank 2 chosen, then BACK: nothing deleted.
    s.press(1, LONG_MS, "key 1 (long) on bar 0");
    s.press(5, SHORT_MS, "key 5 on bar 6: utilities");
    s.press(3, SHORT_MS, "key 3 on bar 9: reset bar");
    s.press(2, SHORT_MS, "key 2 on bar 11: bank");
    EXPECT_TRUE(s.waitForButton(2, " BANK", "    2", 5));
    s.press(1, SHORT_MS, "key 1 on bar 11: back");
    sleep(1);
    EXPECT_TRUE(exists("antenna_b2.txt"));
    EXPECT_TRUE(exists("atu_ant1_b2.txt"));
    // Confirmed with START: exactly bank 2's files go.
    s.press(5, SHORT_MS, "key 5 on bar 6: utilities");
    s.press(3, SHORT_MS, "key 3 on bar 9: reset bar");
    s.press(2, SHORT_MS, "key 2 on bar 11: bank");
    s.press(6, SHORT_MS, "key 6 on bar 11: reset");
    for (int i = 0; i < 50 && exists("antenna_b2.txt"); ++i)
        usleep(100000);
    EXPECT_FALSE(exists("antenna_b2.txt"));
    EXPECT_FALSE(exists("atu_ant1_b2.txt"));
    EXPECT_FALSE(exists("atu_ant3_b2.txt"));
    EXPECT_TRUE(exists("atu_ant2.txt"));
    EXPECT_TRUE(exists("antenna_b19.txt"));
    s.press(1, SHORT_MS, "key 1 on bar 6: back");

    // Factory default: ENTER without the confirmation does nothing.
    s.press(5, SHORT_MS, "key 5 on bar 0: settings");
    pressTimes(s, 3, 6, UP);
    s.press(6, SHORT_MS, OPEN);
    s.press(6, SHORT_MS, CONFIRM);
    sleep(1);
    EXPECT_TRUE(exists("atu_ant2.txt"));
    EXPECT_EQ("TempMode: 1\n", readFile(s.unit().path("opt/set/setup.txt"))) << "the file not written";
    // Confirmed: every bank's files go and the settings are the defaults.
    s.press(6, SHORT_MS, OPEN);
    s.press(5, SHORT_MS, PLUS);
    EXPECT_TRUE(waitForMenu(s, 26, 2, [](Works* w) {
        w->factoryArmed = 1;
        w->tempMode = 1;
    }));
    s.press(6, SHORT_MS, CONFIRM);
    for (int i = 0; i < 100 && exists("antenna_b19.txt"); ++i)
        usleep(100000);
    EXPECT_FALSE(exists("atu_ant2.txt"));
    EXPECT_FALSE(exists("antenna_b19.txt"));
    for (int i = 0; i < 100 && readFile(s.unit().path("opt/set/setup.txt")).find("\nTempMode: 0\n") == std::string::npos; ++i)
        usleep(100000);
    EXPECT_NE(std::string::npos, readFile(s.unit().path("opt/set/setup.txt")).find("\nTempMode: 0\n"));
    EXPECT_TRUE(waitForMenu(s, 26, 1));
    EXPECT_EQ("", s.ctl().sanitizerReports());
}

} // namespace
