// The key table in process: each bar's keys on the fields, the command queue, the wire text
// of a queued command, and the settings files they write or delete.
#include "amplifier/amp_test_util.h"
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "core/setup.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "platform/clock.h"
#include "support/sim_root.h"
#include "tuner/autotune.h"
#include "tuner/tune_word.h"
#include "tuner/tuner_files.h"
#include "core/threads.h"
#include "ui/dispatch.h"
#include "ui/labels.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "screen_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t FREQ_20M = 14100000;  // row 5 of the default antenna table

struct KeyFixture {
    explicit KeyFixture(const char* name) : root(name)
    {
        works->setup = setup.get();
        initSetup(works.get());
        setup->enaser = '0';
        setup->enaCatSer = '0';
        works->running = 0;
        works->fb = fb.get();
        InitErrorTable(works.get());
        enableErrorList(works.get());
        InitTabAntenna(works.get(), 0);
        works->frequency = FREQ_20M;
        works->interfaceMode = 0;
        works->ampBypass = 0;
        works->lastActivity = monoMillis();
        InitMenuOrvo(works.get());
    }
    // A long VIEW starts the transceiver link for the status page: it ends at once here
    // (running is 0) and is joined before the records it reads go.
    ~KeyFixture() { joinThread(thrSer); }
    int press(int key, int flags = 0) { return DecodeTasto(works.get(), key, flags); }
    // The link thread's part: the tune starts and ends the keys asked for.
    void serveTune() { ServeTuneRequests(works.get()); }
    std::vector<int> drain() { return drainQueue(works.get()); }
    // The next frame's lower screen, as the screen loop draws it.
    FrameBuffer* frame()
    {
        loadPanelFonts();
        memset(fb->drawBuf, 0, fb->memSize);
        LoadButtons(works.get(), SerParam{});
        return fb.get();
    }
    // The text the link would put on the wire for a command number (CRC digits removed).
    std::string wireText(int number)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return "";
        works->linFD = fds[1];
        sendLinearCommand(works.get(), number);
        close(fds[1]);
        char buf[80] = {};
        const ssize_t n = read(fds[0], buf, sizeof buf - 1);
        close(fds[0]);
        return n > 2 ? std::string(buf + 2, static_cast<size_t>(n - 2)) : "";
    }
    AntennaRow savedRow(int bank)
    {
        Works reread;
        LoadTabConfig(&reread, bank);
        return reread.antennaTable[5];
    }
    TestRoot root;
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    std::unique_ptr<FrameBuffer, void (*)(FrameBuffer*)> fb{fbCreateInMemory(800, 480, 4), fbDestroy};
};

std::string lowerLabel(int bar, int button)
{
    return barLabels(bar).label[button - 1][1];
}

TEST(Keys, AttenuatorCyclesThroughStandByOutsideTransmissionOnly)
{
    KeyFixture f("keys-att");
    std::vector<std::string> labels;
    std::vector<std::vector<int>> queued;
    for (int i = 0; i < 5; ++i) {
        f.press(2);
        queued.push_back(f.drain());
        if (f.works->attenuatorSel == 4)
            f.works->ampBypass = 1;  // the board's "AB1" reply
        SetAttenuatorLabel(f.works.get());
        labels.push_back(lowerLabel(BAR_MAIN, 2));
        if (f.works->attenuatorSel == 4) {
            EXPECT_EQ(0, f.savedRow(f.works->numBanco).ampEnable) << "stand-by is stored as amplifier off";
        }
    }
    EXPECT_EQ((std::vector<std::string>{"  2dB", "  3dB", "  5dB", "  StBy", "  StBy"}), labels);
    // Leaving stand-by sets the attenuator and puts the amplifier back in line.
    EXPECT_EQ((std::vector<std::vector<int>>{{14}, {14}, {14}, {20}, {14, 19}}), queued);
    f.works->ampBypass = 0;
    SetAttenuatorLabel(f.works.get());
    EXPECT_EQ("  0dB", lowerLabel(BAR_MAIN, 2));
    EXPECT_EQ(1, f.savedRow(f.works->numBanco).ampEnable);

    // While transmitting: 0, 2, 3, 5 dB only.
    f.works->statoAmp[1] = 1;
    std::vector<int> steps;
    for (int i = 0; i < 5; ++i) {
        f.press(2);
        steps.push_back(f.works->attenuatorSel);
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3, 0, 1}), steps);
    f.drain();
    // Transmitting in stand-by the key is refused with error 17 and nothing changes.
    f.works->ampBypass = 1;
    f.works->attenuatorSel = 4;
    f.press(2);
    EXPECT_EQ(4, f.works->attenuatorSel);
    EXPECT_TRUE(f.drain().empty());
    EXPECT_EQ(1, ExistError(f.works.get(), 17));
    // A long press of the key does nothing.
    f.works->statoAmp[1] = 0;
    f.press(2, 0x02);
    EXPECT_EQ(4, f.works->attenuatorSel);
}

TEST(Keys, AntennaKeyStepsTheOutputSendsItAndStoresItInTheBank)
{
    KeyFixture f("keys-ant");
    f.press(3);
    EXPECT_EQ(1, f.works->antenna);
    EXPECT_EQ((std::vector<int>{7}), f.drain());
    EXPECT_EQ("SA2;", f.wireText(7));
    EXPECT_EQ(2, f.savedRow(f.works->numBanco).ant);
    f.press(3);
    f.press(3);
    EXPECT_EQ(0, f.works->antenna);
    EXPECT_EQ("SA1;", f.wireText(7));
    EXPECT_EQ(1, f.savedRow(f.works->numBanco).ant);
}

TEST(Keys, MainBarViewsStatusPageTablePageAndScreenSaver)
{
    KeyFixture f("keys-main");
    std::vector<int> pages;
    f.works->angAuxPk = 0.5f;
    for (int i = 0; i < 5; ++i) {
        f.press(6);
        pages.push_back(f.works->screenPage);
    }
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5, 1}), pages);
    EXPECT_EQ(0, f.works->angAuxPk);
    f.works->screenPage = 4;
    SetWorkImg(f.works.get());
    EXPECT_EQ(16, f.works->divX);
    EXPECT_EQ(160000, f.works->spanHz);
    f.works->screenPage = 5;
    SetWorkImg(f.works.get());
    EXPECT_EQ(8, f.works->divX);
    EXPECT_EQ(427, f.works->xRangeEnd);
    EXPECT_EQ(80000, f.works->spanHz);
    f.works->screenPage = 1;

    // Long press of key 6: the status page; any main-bar key then only closes it.
    f.press(6, 0x20);
    EXPECT_EQ(1, f.works->statusView);
    f.press(4);
    EXPECT_EQ(0, f.works->statusView);
    EXPECT_EQ(BAR_MAIN, f.works->pageIdx);
    f.press(6, 0x20);
    f.press(6);
    EXPECT_EQ(1, f.works->screenPage);

    // Long press of key 1: the bank table page with its bar; key 1 there closes it.
    f.press(1, 0x01);
    EXPECT_EQ(2, f.works->statusView);
    EXPECT_EQ(BAR_INTERFACE, f.works->pageIdx);
    EXPECT_EQ("Generic", lowerLabel(BAR_INTERFACE, 2));
    f.press(1);
    EXPECT_EQ(0, f.works->statusView);
    EXPECT_EQ(BAR_MAIN, f.works->pageIdx);
    // A short press steps the bank and remembers it.
    f.press(1);
    EXPECT_EQ(2, f.works->numBanco);
    EXPECT_NE(std::string::npos, f.root.read("opt/set/setup.txt").find("NumBanco: 2\n"));

    // The first key after the saver only wakes the screen.
    f.works->screenSaverOn = 1;
    f.works->lastActivity = 0;
    f.press(5);
    EXPECT_EQ(0, f.works->screenSaverOn);
    EXPECT_EQ(BAR_MAIN, f.works->pageIdx);
    EXPECT_GT(f.works->lastActivity, 0);
    f.press(5);
    EXPECT_EQ(BAR_MENU, f.works->pageIdx);
    // The menu wraps both ways.
    f.press(3);
    EXPECT_EQ(MENU_ITEMS - 1, f.works->menuIdx);
    f.press(4);
    EXPECT_EQ(0, f.works->menuIdx);
    f.press(6);
    EXPECT_EQ(BAR_MENU_EDIT, f.works->pageIdx);
    f.press(6);
    EXPECT_EQ(BAR_MENU, f.works->pageIdx);
    f.press(1);
    EXPECT_EQ(BAR_MAIN, f.works->pageIdx);
}

TEST(Keys, ResetKeyClearsWarningsBeforeAnythingElse)
{
    KeyFixture f("keys-reset");
    AddErrore(f.works.get(), 4);
    f.works->fineTuneOk = 1;
    f.press(1);
    EXPECT_EQ(0, ExistError(f.works.get(), 4));
    EXPECT_EQ(1, f.works->numBanco) << "the key only cleared the fault";
    EXPECT_EQ(0, f.works->fineTuneOk);
    // A protection fault gets the bias-reset burst.
    f.drain();
    f.works->statoAmp[2] = 0x02;
    AddErrore(f.works.get(), 15);
    f.press(1);
    EXPECT_EQ((std::vector<int>{13, 17, 19, 14}), f.drain());
    EXPECT_EQ(1, f.works->cmdBurst);
}

TEST(Keys, TuneBarStartsAndAbortsSearchesAndKeepsBypassedTunerAlone)
{
    KeyFixture f("keys-tune");
    f.works->autoTuneMode = 1;
    f.press(4);
    EXPECT_EQ(BAR_TUNE, f.works->pageIdx);
    f.press(4);
    f.serveTune();
    EXPECT_EQ(1, f.works->tuneStatus);
    EXPECT_EQ(0, f.works->fineTuneOk);
    EXPECT_EQ((std::vector<int>{18, 15, 22, 13, 17}), f.drain());
    // BACK stays on the bar while the search runs; the tune key aborts it.
    f.press(1);
    EXPECT_EQ(BAR_TUNE, f.works->pageIdx);
    f.press(4);
    f.serveTune();
    EXPECT_EQ(0, f.works->tuneStatus);
    f.drain();
    f.press(3);
    f.serveTune();
    EXPECT_EQ(1, f.works->tuneStatus);
    EXPECT_EQ(1, f.works->fineTuneOk);
    f.press(3);
    f.serveTune();
    f.drain();
    // The bypass key: tuner bypassed (command 39), stored; then tune keys do nothing.
    f.press(5);
    EXPECT_EQ(1, f.works->atuBypass);
    EXPECT_EQ((std::vector<int>{39}), f.drain());
    EXPECT_EQ(1, f.savedRow(f.works->numBanco).atuBypass);
    f.press(4);
    f.serveTune();
    EXPECT_EQ(0, f.works->tuneStatus);
    EXPECT_TRUE(f.drain().empty());
    f.press(5);
    EXPECT_EQ(0, f.works->atuBypass);
    EXPECT_EQ(0, f.savedRow(f.works->numBanco).atuBypass);
    // A long press of key 6 sends every setting again (Generic: no frequency).
    f.drain();
    f.press(6, 0x20);
    EXPECT_EQ((std::vector<int>{17, 13, 22, 19, 21, 7, 14}), f.drain());
    f.press(6);
    EXPECT_EQ(BAR_MANUAL_TUNE, f.works->pageIdx);
    EXPECT_EQ(1, f.works->manualTune);
    EXPECT_EQ((std::vector<int>{10}), f.drain());
    // (the aborted search listed error 18: cleared, so key 1 is not the RESET key)
    VerifyWarningTemporaneiDopoResetBias(f.works.get());
    clearErrorFlags(f.works.get(), 0xFF);
    f.press(1);
    EXPECT_EQ(BAR_SAVE, f.works->pageIdx);
}

TEST(Keys, ManualTuneStepsRepeatWhileHeldAndTheCarrierToggles)
{
    KeyFixture f("keys-manual");
    f.works->pageIdx = BAR_MANUAL_TUNE;
    f.works->tuneval = tunewordWithMode(0, TUNE_MODE_CL);
    EXPECT_EQ(1, f.press(3, 0x04));
    EXPECT_EQ(0, f.press(3));
    EXPECT_EQ(2, f.works->induttanza);
    EXPECT_EQ(2, DecodeInduttanzaFromTuneval(f.works->tuneval));
    f.press(5);
    EXPECT_EQ(1, f.works->capacita);
    f.press(4);
    f.press(4);
    EXPECT_EQ(0, f.works->capacita) << "not below 0";
    EXPECT_EQ((std::vector<int>{11, 11, 11, 11}), f.drain());
    // The next frame shows the steps.
    screentest::expectButtonShows(f.frame(), 3, "   up L", "     2");
    screentest::expectButtonShows(f.fb.get(), 5, "   up C", "     0");
    // A long press of key 1 steps the network mode, and the next frame shows it.
    f.works->modoTune = TUNE_MODE_CL;
    f.press(1, 0x01);
    EXPECT_EQ(TUNE_MODE_LC, DecodeModoFromTuneval(f.works->tuneval));
    screentest::expectButtonShows(f.frame(), 1, " BACK ", "LC");
    EXPECT_EQ((std::vector<int>{11}), f.drain());
    // The carrier: on (the amplifier's AN dropped first when it is set), then off.
    f.works->statoAmp[0] = 1;
    f.works->anState = 1;
    f.press(6);
    EXPECT_EQ(0x13, f.works->tuneHold);
    EXPECT_EQ(0, f.works->anState);
    EXPECT_EQ((std::vector<int>{21}), f.drain());
    screentest::expectButtonShows(f.frame(), 6, "StopTX", " ");
    f.press(6);
    EXPECT_EQ(0x01, f.works->tuneHold);
    screentest::expectButtonShows(f.frame(), 6, "StartTX", " ");
}

TEST(Keys, SaveCopyAndResetBarsWriteAndDeleteTheBankFiles)
{
    KeyFixture f("keys-files");
    // Save the present tune into bank 2, antenna 2.
    f.works->pageIdx = BAR_MANUAL_TUNE;
    f.works->tuneval = tunewordWithL(tunewordWithC(tunewordWithMode(0, TUNE_MODE_CL), 77), 33);
    f.press(1);
    EXPECT_EQ(BAR_SAVE, f.works->pageIdx);
    EXPECT_EQ(1, f.works->saveBank);
    f.press(2);
    f.press(3);
    LabelSAVEATU(f.works.get());
    EXPECT_EQ("   2", lowerLabel(BAR_SAVE, 2));
    EXPECT_EQ("     2", lowerLabel(BAR_SAVE, 3));
    f.press(6);
    EXPECT_EQ(BAR_TUNE, f.works->pageIdx);
    const std::string stored = f.root.read(atuFileName(2, 1).substr(1));
    EXPECT_FALSE(stored.empty());
    // A bypassed tuner has nothing to store.
    f.works->pageIdx = BAR_SAVE;
    f.works->saveBank = 3;
    f.works->tuneval = tunewordWithMode(0, TUNE_MODE_BYPASS);
    f.press(6);
    EXPECT_FALSE(f.root.exists(atuFileName(3, 1).substr(1)));
    EXPECT_TRUE(f.works->msgFlags & 2);

    // Copy bank 2 to bank 5: its three tuner files and its table.
    f.works->antennaTable[5].pwr = 9.5f;
    SaveTabConfig(f.works.get(), 2);
    f.works->antennaTable[5].pwr = 0;
    f.works->pageIdx = BAR_INTERFACE;
    f.press(5);
    EXPECT_EQ(BAR_UTILITIES, f.works->pageIdx);
    f.press(2);
    EXPECT_EQ(BAR_COPY, f.works->pageIdx);
    f.press(2);  // origin 1 -> 2
    for (int i = 0; i < 5; ++i)
        f.press(3);  // destination 0 -> 5
    LblCOPY(f.works.get());
    EXPECT_EQ("    2", lowerLabel(BAR_COPY, 2));
    EXPECT_EQ("    5", lowerLabel(BAR_COPY, 3));
    f.press(6);
    EXPECT_EQ(BAR_INTERFACE, f.works->pageIdx);
    EXPECT_EQ(stored, f.root.read(atuFileName(5, 1).substr(1)));
    EXPECT_FLOAT_EQ(9.5f, f.savedRow(5).pwr);
    // The current bank (1) goes on with its own table, not the copied one.
    EXPECT_FLOAT_EQ(0, f.works->antennaTable[5].pwr);

    // Reset bank 5, then every bank.
    f.press(5);
    f.press(3);
    EXPECT_EQ(BAR_RESET, f.works->pageIdx);
    for (int i = 0; i < 4; ++i)
        f.press(2);  // 1 -> 5
    f.press(6);
    EXPECT_FALSE(f.root.exists(atuFileName(5, 1).substr(1)));
    EXPECT_FALSE(f.root.exists(antennaFileName(5).substr(1)));
    EXPECT_TRUE(f.root.exists(atuFileName(2, 1).substr(1)));
    f.works->pageIdx = BAR_RESET;
    f.works->resetBank = f.works->maxBank - 1;
    f.press(2);
    LblRESET(f.works.get());
    EXPECT_EQ("  ALL", lowerLabel(BAR_RESET, 2));
    f.press(6);
    EXPECT_FALSE(f.root.exists(atuFileName(2, 1).substr(1)));
    EXPECT_FALSE(f.root.exists(antennaFileName(2).substr(1)));
    f.works->pageIdx = BAR_RESET;
    f.works->resetBank = f.works->maxBank;
    f.press(2);
    EXPECT_EQ(0, f.works->resetBank) << "after ALL the first bank";
}

TEST(Keys, RetryCancelAndFilterBars)
{
    KeyFixture f("keys-retry");
    f.works->pageIdx = BAR_RETRY;
    f.works->fatalError = 0;
    f.press(5);
    EXPECT_EQ(0, f.works->fatalError);
    f.works->fatalError = 2;
    f.setup->EnableCAT = '1';
    f.press(6);
    EXPECT_EQ('0', f.setup->EnableCAT);
    EXPECT_EQ(-1, f.works->fatalError);
    f.works->fatalError = 3;
    f.setup->enaser = '1';
    f.press(6);
    EXPECT_EQ('0', f.setup->enaser);
    EXPECT_EQ(-1, f.works->fatalError);

    f.works->pageIdx = BAR_FILTER;
    f.works->statusView = 4;
    f.press(2);
    EXPECT_EQ(FILTER_ROWS - 1, f.works->filterIdx);
    f.press(3);
    EXPECT_EQ(0, f.works->filterIdx);
    f.press(5);
    EXPECT_EQ(1, f.works->filterTable[0].enabled);
    EXPECT_FALSE(f.root.read("opt/set/filter.txt").empty());
    f.press(6);
    EXPECT_EQ(0, f.works->filterTable[0].enabled);
    f.press(1);
    EXPECT_EQ(0, f.works->statusView);
    EXPECT_EQ(BAR_MAIN, f.works->pageIdx);
}

} // namespace
