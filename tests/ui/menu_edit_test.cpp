// The settings items' value texts and the edits of every item kind, on a works record in a
// simulated root (saves go through its stand-ins): wrap and clamp rules, the items that
// save, the factory default, the switch to Remote, and the bank table cells.
#include "amplifier/errors.h"
#include "config/antenna_table.h"
#include "config/banks.h"
#include "config/network.h"
#include "core/setup.h"
#include "core/works.h"
#include "support/sim_root.h"
#include "ui/dispatch.h"
#include "ui/menu.h"
#include "ui/menu_items.h"
#include "ui/spectrum_plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

struct MenuRecord {
    TestRoot root{"menu"};
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    MenuRecord()
    {
        works->setup = setup.get();
        initSetup(works.get());
        works->running = 0;  // no thread runs here
        InitErrorTable(works.get());
        enableErrorList(works.get());
        InitMenuOrvo(works.get());
    }
    Works* operator->() { return works.get(); }
    std::string value(int item, int sub = 0)
    {
        char out[64] = "untouched";
        LoadParameterMenu(works.get(), out, sizeof out, item, sub);
        return out;
    }
    int act(int item, int action)
    {
        works->menuIdx = item;
        return ModifyParameter(works.get(), action);
    }
    bool setupHas(const std::string& line) const { return root.read("opt/set/setup.txt").find("\n" + line + "\n") != std::string::npos; }
};

constexpr int ENTER = 0, MINUS = 1, PLUS = 2, LEFT = 3, RIGHT = 4;

TEST(MenuItems, TableNumbersTitlesAndTheCircularNeighbours)
{
    EXPECT_EQ(1, menuPar[0].number);
    EXPECT_STREQ("MAX BANK", menuPar[0].group);
    EXPECT_EQ(18, menuPar[17].number);
    EXPECT_EQ(50, menuPar[18].number);
    EXPECT_EQ(99, menuPar[31].number);
    EXPECT_STREQ("REMOTE SERVICE", menuPar[31].group);
    for (int item = 0; item < MENU_ITEMS; ++item) {
        EXPECT_EQ(item >= 9 && item <= 12, menuItemIsAddress(item)) << item;
        EXPECT_FALSE(menuItemReadOnly(item)) << item;
        EXPECT_STREQ("", menuItemLabel(item, 1));
    }
    EXPECT_FALSE(menuItemIsAddress(-1));
    EXPECT_FALSE(menuItemIsAddress(32));
    EXPECT_STREQ("Target SWR (0=Off)", menuItemLabel(5, 0));
    EXPECT_EQ(31, previousMenuItem(0, 32));
    EXPECT_EQ(0, nextMenuItem(31, 32));
    EXPECT_EQ(14, previousMenuItem(15, 32));
    EXPECT_EQ(16, nextMenuItem(15, 32));
}

TEST(MenuItems, ValueTextsOfEveryKind)
{
    MenuRecord m;
    EXPECT_EQ("20", m.value(ITEM_MAX_BANK));
    EXPECT_EQ("FQ1", m.value(ITEM_INPUT_SENS));
    m->freqSensIn = 1;
    EXPECT_EQ("FQ2", m.value(ITEM_INPUT_SENS));
    EXPECT_EQ("10", m.value(ITEM_PERIOD));
    EXPECT_EQ("Off", m.value(ITEM_IXO_TUNE));
    m->autoTuneMode = 3;
    EXPECT_EQ("On", m.value(ITEM_IXO_TUNE));
    m->attenuatorTune = 3;
    EXPECT_EQ("5dB", m.value(ITEM_FORCE_ATT));
    m->attenuatorTune = 9;  // outside the table: nothing read past it
    EXPECT_EQ("dB", m.value(ITEM_FORCE_ATT));
    m->swrEscAutoTune = 1.5f;
    EXPECT_EQ("1.50", m.value(ITEM_TARGET_SWR));
    m->autoTuneMaxCicli = 4;
    EXPECT_EQ("5sec", m.value(ITEM_TUNE_TIMEOUT));
    EXPECT_EQ("Yes", m.value(ITEM_ATU_INSTALLED));
    m->tuneEnabled = 0x80;
    EXPECT_EQ("No", m.value(ITEM_ATU_INSTALLED));
    EXPECT_EQ("Local", m.value(ITEM_USE_MODE));
    m->remoteActive = 1;
    EXPECT_EQ("Remote", m.value(ITEM_USE_MODE));
    setLanAddresses({"192.168.1.40", "255.255.255.0", "", "8.8.8.8"});
    EXPECT_EQ("192.168.1.40", m.value(ITEM_IP));
    EXPECT_EQ("0.0.0.0", m.value(ITEM_GATEWAY));
    EXPECT_EQ("8.8.8.8", m.value(ITEM_DNS));
    EXPECT_EQ("-110", m.value(ITEM_REF_LEV));
    m->offsetPlot = 2.5;
    EXPECT_EQ("2.50", m.value(ITEM_OFFSET));
    EXPECT_EQ("OFF", m.value(ITEM_FILTER_VIEW));
    m->viewTimeStr = 1;
    EXPECT_EQ("ON", m.value(ITEM_DATE_TIME));
    m->tempMode = 1;
    EXPECT_EQ("Fahrenheit", m.value(ITEM_TEMP_UNITS));
    EXPECT_EQ("3000", m.value(ITEM_RELEASE_TIME));
    EXPECT_EQ("60.00", m.value(ITEM_ALARM1));
    EXPECT_EQ("80.00", m.value(ITEM_ALARM2));
    EXPECT_EQ("Watt", m.value(ITEM_POWER_UNITS));
    m->saveScreenIdx = 4;
    EXPECT_EQ("60min", m.value(ITEM_SCREEN_SAVER));
    EXPECT_EQ("No Default", m.value(ITEM_FACTORY_DEFAULT));
    EXPECT_EQ("0.5 sec", m.value(ITEM_LONG_PRESS));
    EXPECT_EQ("OFF", m.value(ITEM_OFF_HW));
    m->svcFlags = 8;
    EXPECT_EQ("OFF", m.value(ITEM_FW_UPDATE));
    EXPECT_EQ("ON", m.value(ITEM_UI_UPDATE));
    EXPECT_EQ("OFF", m.value(ITEM_REMOTE_SERVICE));
    // The items of the first slot only leave the text alone for another slot.
    for (int item : {8, 19, 20, 24, 25, 26, 28, 29, 30, 31})
        EXPECT_EQ("untouched", m.value(item, 1)) << item;
    EXPECT_EQ("20", m.value(ITEM_MAX_BANK, 1));
}

TEST(MenuEdit, NumbersWrapAndClampAtTheirLimits)
{
    MenuRecord m;
    m->maxBank = 20;
    m.act(ITEM_MAX_BANK, PLUS);
    EXPECT_EQ(2, m->maxBank);
    m.act(ITEM_MAX_BANK, MINUS);
    EXPECT_EQ(20, m->maxBank);

    m->swrEscAutoTune = 0;
    EXPECT_EQ(1, m.act(ITEM_TARGET_SWR, PLUS));
    EXPECT_FLOAT_EQ(1.0f, m->swrEscAutoTune);
    EXPECT_EQ(1, m.act(ITEM_TARGET_SWR, MINUS));
    EXPECT_FLOAT_EQ(0.0f, m->swrEscAutoTune);
    m->swrEscAutoTune = 9.995f;
    m.act(ITEM_TARGET_SWR, PLUS);
    EXPECT_FLOAT_EQ(10.0f, m->swrEscAutoTune);
    // A hundred steps down from 2.00 and back land on the values shown, never drifting
    // below 1.00 (which would switch the target off).
    m->swrEscAutoTune = 2.0f;
    for (int i = 0; i < 100; ++i)
        m.act(ITEM_TARGET_SWR, MINUS);
    EXPECT_FLOAT_EQ(1.0f, m->swrEscAutoTune);

    m->autoTuneMaxCicli = 0;
    m.act(ITEM_TUNE_TIMEOUT, MINUS);
    EXPECT_EQ(0, m->autoTuneMaxCicli);
    m->autoTuneMaxCicli = 4;
    m.act(ITEM_TUNE_TIMEOUT, PLUS);
    EXPECT_EQ(0, m->autoTuneMaxCicli);
    m->autoTuneMaxCicli = 3;
    m.act(ITEM_TUNE_TIMEOUT, MINUS);
    EXPECT_EQ(2, m->autoTuneMaxCicli);
    m->saveScreenIdx = 4;
    m.act(ITEM_SCREEN_SAVER, PLUS);
    EXPECT_EQ(0, m->saveScreenIdx);
    m.act(ITEM_SCREEN_SAVER, RIGHT);
    EXPECT_EQ(0, m->saveScreenIdx);

    TIME_LONG_PRESS = 4.95;
    m.act(ITEM_LONG_PRESS, PLUS);
    EXPECT_DOUBLE_EQ(5.0, TIME_LONG_PRESS);
    TIME_LONG_PRESS = 0.35;
    m.act(ITEM_LONG_PRESS, MINUS);
    EXPECT_DOUBLE_EQ(0.3, TIME_LONG_PRESS);

    PointDiv = 2;
    m.act(ITEM_POINT_DIV, PLUS);
    EXPECT_EQ(5, PointDiv);
    PointDiv = 20;
    m.act(ITEM_POINT_DIV, PLUS);
    EXPECT_EQ(20, PointDiv);
    PointDiv = 5;
    m.act(ITEM_POINT_DIV, MINUS);
    EXPECT_EQ(2, PointDiv);
    PointDiv = 1;
    m.act(ITEM_POINT_DIV, MINUS);
    EXPECT_EQ(1, PointDiv);
    RefPos = 10;
    m.act(ITEM_REF_POS, PLUS);
    EXPECT_EQ(10, RefPos);
    RefPos = 0;
    m.act(ITEM_REF_POS, MINUS);
    EXPECT_EQ(0, RefPos);

    m->freqPeriodTime = 10;
    EXPECT_EQ(1, m.act(ITEM_PERIOD, MINUS));
    EXPECT_EQ(10, m->freqPeriodTime);
    m->freqPeriodTime = 9999;
    m.act(ITEM_PERIOD, PLUS);
    EXPECT_EQ(10009, m->freqPeriodTime);
    m.act(ITEM_PERIOD, PLUS);
    EXPECT_EQ(10009, m->freqPeriodTime);

    TimerPeakSec = 4995;
    EXPECT_EQ(1, m.act(ITEM_RELEASE_TIME, PLUS));
    EXPECT_EQ(5000, TimerPeakSec.load());
    TimerPeakSec = 5;
    m.act(ITEM_RELEASE_TIME, MINUS);
    EXPECT_EQ(0, TimerPeakSec.load());

    m->maxTempAllowed = 70;
    m->maxTemperature = 69.95f;
    EXPECT_EQ(1, m.act(ITEM_ALARM1, PLUS));
    EXPECT_FLOAT_EQ(70.0f, m->maxTemperature);
    m->maxTemperature2 = 20.0f;
    m.act(ITEM_ALARM2, MINUS);
    EXPECT_FLOAT_EQ(20.0f, m->maxTemperature2);
    // The alarm items act on the first label slot only.
    m->menuSub = 1;
    EXPECT_EQ(0, m.act(ITEM_ALARM2, PLUS));
    EXPECT_FLOAT_EQ(20.0f, m->maxTemperature2);
    m->menuSub = 0;

    m->attenuatorTune = 3;
    m.act(ITEM_FORCE_ATT, PLUS);
    EXPECT_EQ(0, m->attenuatorTune);
    m->tuneEnabled = 0x05;
    m.act(ITEM_ATU_INSTALLED, LEFT);
    EXPECT_EQ(0x85, m->tuneEnabled);
}

TEST(MenuEdit, SwitchesToggleAndEnterWritesTheSetupFile)
{
    MenuRecord m;
    writeSetup(m.works.get());
    const std::string before = m.root.read("opt/set/setup.txt");
    m.act(ITEM_TEMP_UNITS, PLUS);
    m.act(ITEM_PEAK_METER, MINUS);
    m.act(ITEM_POWER_UNITS, RIGHT);
    m.act(ITEM_DATE_TIME, LEFT);
    EXPECT_EQ(before, m.root.read("opt/set/setup.txt")) << "changes reach the file only on a save";
    m.act(ITEM_TEMP_UNITS, ENTER);
    const std::string after = m.root.read("opt/set/setup.txt");
    for (const char* line : {"TempMode: 1", "EnablePwrPeak: 1", "PowerUnits: 1", "ViewTimeStr: 1"})
        EXPECT_TRUE(m.setupHas(line)) << line << "\n" << after;
    // Offset saves on ENTER and the cursor keys; written in tenths.
    m->offsetPlot = 0;
    EXPECT_EQ(1, m.act(ITEM_OFFSET, PLUS));
    EXPECT_EQ(1, m.act(ITEM_OFFSET, PLUS));
    EXPECT_EQ(1, m.act(ITEM_OFFSET, RIGHT));
    EXPECT_TRUE(m.setupHas("OffsetPlot: 2"));
    // The filter view switch opens and closes the filter page on ENTER.
    m.act(ITEM_FILTER_VIEW, PLUS);
    EXPECT_EQ("ON", m.value(ITEM_FILTER_VIEW));
}

TEST(MenuEdit, FactoryDefaultOnlyWhenArmedAndTheUnitKeepsRunning)
{
    MenuRecord m;
    m.root.write("opt/set/antenna_b3.txt", "!Gen\n160m 1800000 2000000 1 3 0 2 7.5\n");
    m.root.write("opt/set/atu_ant2.txt", "x\n");
    LoadAllBankTable(m.works.get(), 3);
    ASSERT_EQ(1, m->antennaRows);
    m.root.write("opt/set/atu_ant3_b19.txt", "x\n");
    m->tempMode = 1;
    writeSetup(m.works.get());
    m.act(ITEM_FACTORY_DEFAULT, ENTER);  // not armed: nothing happens
    EXPECT_TRUE(m.root.exists("opt/set/antenna_b3.txt"));
    EXPECT_TRUE(m.setupHas("TempMode: 1"));
    m->menuSub = 1;
    m.act(ITEM_FACTORY_DEFAULT, PLUS);  // another slot: not armed
    EXPECT_EQ(0, m->factoryArmed);
    m->menuSub = 0;
    m.act(ITEM_FACTORY_DEFAULT, PLUS);
    EXPECT_EQ("Set Default", m.value(ITEM_FACTORY_DEFAULT));
    m->interfaceMode = 1;
    m->wsSock = 7;
    m->ampModel = '1';
    m->frequency = 7100000;
    number_ofStep_meter_FWD = 120;  // the 120 W model's scale, set from its identity reply
    m->screenPage = 5;
    m->spanHz = 80000;              // the narrow spectrum view's span
    m.act(ITEM_FACTORY_DEFAULT, ENTER);
    EXPECT_FALSE(m.root.exists("opt/set/antenna_b3.txt"));
    EXPECT_FALSE(m.root.exists("opt/set/atu_ant2.txt"));
    EXPECT_FALSE(m.root.exists("opt/set/atu_ant3_b19.txt"));
    EXPECT_TRUE(m.setupHas("TempMode: 0"));
    EXPECT_EQ(0, m->tempMode);
    EXPECT_EQ(0, m->factoryArmed);
    // The settings went back to their defaults, the running unit did not: its connections,
    // its model and the meter scale that follows from it, the view and its span.
    EXPECT_EQ(7, m->wsSock);
    EXPECT_EQ('1', m->ampModel);
    EXPECT_EQ(120, number_ofStep_meter_FWD.load());
    EXPECT_EQ(5, m->screenPage);
    EXPECT_EQ(80000, m->spanHz);
    EXPECT_EQ(7100000u, m->frequency);
    // The default bank is loaded from its deleted files: its interface and its table. The
    // next key that saves the bank writes that table, not the old bank's, into its file.
    EXPECT_EQ(1, m->numBanco);
    EXPECT_EQ(0, m->interfaceMode);
    EXPECT_EQ(-1, m->antennaRowIdx);
    m->pageIdx = BAR_MAIN;
    DecodeTasto(m.works.get(), 3, 0);
    const std::string bank1 = m.root.read("opt/set/antenna_b1.txt");
    EXPECT_EQ(0u, bank1.find("!Gen\n160m 1800000 2000000 0 ")) << bank1;
    EXPECT_NE(std::string::npos, bank1.find("\n6m 50000000 54000000 ")) << bank1;
    EXPECT_EQ(std::string::npos, bank1.find("7.5")) << "the old bank's row in bank 1's file:\n" << bank1;
    const std::string commands = m.root.read("sim/commands.log");
    const std::string remount = "mount -o remount defaults,rw " + m.root.root() + "/opt/set\n";
    size_t removals = 0;
    for (size_t at = commands.find(remount); at != std::string::npos; at = commands.find(remount, at + 1))
        ++removals;
    EXPECT_GE(removals, 80u);  // one remount per file of the 20 banks, and the setup write
}

TEST(MenuEdit, RemoteWithoutTheSoundInterfaceListsItsErrorsAndStaysLocal)
{
    MenuRecord m;
    m->setup->EnableFFT = '0';
    m->setup->enaser = '1';
    m.act(ITEM_USE_MODE, PLUS);
    EXPECT_EQ(0, m->remoteActive);
    EXPECT_EQ(1, m->remoteThreadExited);
    EXPECT_EQ(1, ExistError(m.works.get(), 6));  // no C-Media device on the bus
    EXPECT_EQ(1, ExistError(m.works.get(), 5));  // no transceiver found
    EXPECT_EQ(0, ExistError(m.works.get(), 7));
    // With the spectrum switch on, Remote needs no checks; any action goes back to Local.
    m->setup->EnableFFT = '1';
    m.act(ITEM_USE_MODE, MINUS);
    EXPECT_EQ(1, m->remoteActive);
    m.act(ITEM_USE_MODE, PLUS);
    EXPECT_EQ(0, m->remoteActive);
}

TEST(MenuEdit, ServiceItemsArmThenRunOnEnter)
{
    MenuRecord m;
    m.act(ITEM_UI_UPDATE, ENTER);  // not armed
    EXPECT_EQ(std::string::npos, m.root.read("sim/commands.log").find("getpack"));
    m.act(ITEM_UI_UPDATE, PLUS);
    m.act(ITEM_UI_UPDATE, ENTER);
    EXPECT_NE(std::string::npos, m.root.read("sim/commands.log").find("getpack"));
    EXPECT_TRUE(m->msgFlags & 8);
    m.act(ITEM_REMOTE_SERVICE, PLUS);
    EXPECT_EQ(2u, m->svcFlags & 2);
    m.act(ITEM_REMOTE_SERVICE, ENTER);
    EXPECT_NE(std::string::npos, m.root.read("sim/commands.log").find("sshshell"));
    m->tinyCmdActive = 255;
    m.act(ITEM_OFF_HW, ENTER);
    EXPECT_EQ(133, m->tinyCmdActive);
}

TEST(MenuEdit, AddressItemsStepOctetsAndMoveTheirCursor)
{
    MenuRecord m;
    setLanAddresses({"192.168.1.40", "255.255.255.0", "192.168.1.1", "192.168.1.1"});
    m.act(ITEM_SUBNET, LEFT);
    m.act(ITEM_SUBNET, MINUS);
    EXPECT_EQ("255.255.254.0", m.value(ITEM_SUBNET));
    m.act(ITEM_SUBNET, RIGHT);
    m.act(ITEM_SUBNET, RIGHT);
    EXPECT_EQ(0, lanValue(LAN_NETMASK).cursor);
    m.act(ITEM_SUBNET, PLUS);
    EXPECT_EQ("0.255.254.0", m.value(ITEM_SUBNET));
    EXPECT_EQ("0.255.254.0", lanAddresses().netMask);
    EXPECT_EQ("192.168.1.40", m.value(ITEM_IP));
}

TEST(MenuEdit, TableCellsStepAndCycle)
{
    MenuRecord m;
    m->antennaRows = 2;
    m->antennaTable[1] = AntennaRow{"40m", 7000000, 7300000, 0, 1, 1, 0, 0.0f};
    m->tabRow = 1;
    m->tabCol = 0;
    ModifytabAntenna(m.works.get(), 1);
    EXPECT_FLOAT_EQ(-0.1f, m->antennaTable[1].pwr);
    for (int i = 0; i < 31; ++i)
        ModifytabAntenna(m.works.get(), 0);
    EXPECT_FLOAT_EQ(3.0f, m->antennaTable[1].pwr);
    // A power step leaves the row's attenuator at a step that exists, so the saved table
    // reads back whole.
    m->antennaTable[1].att = 7;
    ModifytabAntenna(m.works.get(), 0);
    EXPECT_EQ(3, m->antennaTable[1].att);
    m->antennaTable[0] = AntennaRow{"80m", 3500000, 4000000, 0, 1, 1, 0, 0.0f};
    SaveTabConfig(m.works.get(), 4);
    Works reread;
    LoadTabConfig(&reread, 4);
    EXPECT_EQ(2, reread.antennaRows) << m.root.read("opt/set/antenna_b4.txt");
    EXPECT_EQ(3, reread.antennaTable[1].att);
    m->antennaTable[1].pwr = 3.0f;
    m->antennaTable[1].att = 0;
    m->tabCol = 1;
    ModifytabAntenna(m.works.get(), 1);  // 0 - 1 wraps to 0
    EXPECT_EQ(0, m->antennaTable[1].att);
    for (int i = 0; i < 4; ++i)
        ModifytabAntenna(m.works.get(), 0);
    EXPECT_EQ(0, m->antennaTable[1].att);  // 3 + 1 back to 0
    m->tabCol = 2;
    ModifytabAntenna(m.works.get(), 1);
    EXPECT_EQ(1, m->antennaTable[1].ampEnable);
    m->tabCol = 3;
    ModifytabAntenna(m.works.get(), 1);
    EXPECT_EQ(3, m->antennaTable[1].ant);
    ModifytabAntenna(m.works.get(), 0);
    EXPECT_EQ(1, m->antennaTable[1].ant);
    m->tabCol = 4;
    ModifytabAntenna(m.works.get(), 0);
    EXPECT_EQ(0, m->antennaTable[1].atuBypass);
    // A row past the table's is not touched.
    m->tabRow = 2;
    m->tabCol = 0;
    ModifytabAntenna(m.works.get(), 0);
    EXPECT_FLOAT_EQ(0.0f, m->antennaTable[2].pwr);
}

} // namespace
