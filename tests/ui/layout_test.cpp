// The lower screen drawn from a record: every bar's labels inside their buttons, the
// run-time labels, the RESET substitution, fault tiles and the TX indicator; and the whole
// screens of the views and pages, saved as PNG under <build>/test-output/screens.
#include "amplifier/errors.h"
#include "config/network.h"
#include "core/setup.h"
#include "core/works.h"
#include "display/picture.h"
#include "display/text.h"
#include "screen_support.h"
#include "ui/dispatch.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "ui/meters.h"
#include "ui/screen_loop.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace screentest;

namespace {

void clearScreen(FrameBuffer* fb)
{
    memset(fb->drawBuf, 0, fb->memSize);
}

void listErrors(Works* works, std::initializer_list<int> codes)
{
    InitErrorTable(works);
    enableErrorList(works);
    VerifyWarningTemporaneiDopoResetBias(works);
    clearErrorFlags(works, 0xFF);
    for (int code : codes)
        AddErrore(works, code);
}

TEST(Layout, EveryBarsLabelsFallInsideTheirButtons)
{
    ScreenRecord works;
    // The widest run-time values each label can show.
    works->numBanco = 19;
    works->maxBank = 20;
    works->antenna = 2;
    works->screenPage = 5;
    works->saveBank = 19;
    works->saveAnt = 2;
    works->copyFrom = 19;
    works->copyTo = 19;
    works->resetBank = 19;
    works->induttanza = 511;
    works->capacita = 511;
    works->interfaceMode = 2;
    works->ampBypass = 0;
    works->attenuator = 3;
    works->menuIdx = 9;  // an address item: the cursor keys of the edit bar are shown
    InitMenuOrvo(works.get());
    const int separators[] = {130, 263, 396, 529, 662, 799};
    const int gaps[] = {131, 132, 264, 265, 397, 398, 530, 531, 663, 664};
    for (int bar = 0; bar < BARS_USED; ++bar) {
        clearScreen(works.fb());
        works->pageIdx = bar;
        LoadButtons(works.get(), SerParam{});
        saveScreen(works.fb(), "bar_" + std::to_string(bar));
        // Ink that left its button would cover a separator or a gap between two buttons.
        for (int y = BUTTON_TOP + 1; y < 478; ++y) {
            for (int x : separators)
                ASSERT_EQ((Rgb{120, 120, 120}), pixel(works.fb(), x, y)) << "bar " << bar << " x " << x << " y " << y;
            for (int x : gaps)
                ASSERT_EQ((Rgb{0, 0, 0}), pixel(works.fb(), x, y)) << "bar " << bar << " x " << x << " y " << y;
        }
        const ButtonBar labels = barLabels(bar);
        for (int b = 0; b < BAR_BUTTONS; ++b) {
            const ButtonGeometry& g = buttonGeometry[b];
            EXPECT_LE(g.upperX + getStringSpace(BUTTON_UPPER_FONT, labels.label[b][0]), g.fillTo + 1)
                << "bar " << bar << " button " << b + 1 << " \"" << labels.label[b][0] << "\"";
            EXPECT_LE(g.lowerX + getStringSpace(BUTTON_LOWER_FONT, labels.label[b][1]), g.fillTo + 1)
                << "bar " << bar << " button " << b + 1 << " \"" << labels.label[b][1] << "\"";
        }
    }
    // The main bar's run-time labels at these values.
    works->pageIdx = BAR_MAIN;
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    expectButtonShows(works.fb(), 1, "  MEM", "BANK19");
    expectButtonShows(works.fb(), 2, " IN-ATT", "  5dB");
    expectButtonShows(works.fb(), 3, "   ANT", "     3");
    expectButtonShows(works.fb(), 6, "   VIEW ", "    5");
    // The main bar underlines buttons 1 and 6.
    EXPECT_EQ((Rgb{250, 150, 0}), pixel(works.fb(), 60, 479));
    EXPECT_EQ((Rgb{250, 150, 0}), pixel(works.fb(), 700, 478));
    EXPECT_EQ((Rgb{40, 40, 40}), pixel(works.fb(), 300, 479));
}

TEST(Layout, RuntimeLabelsAndTheResetKey)
{
    ScreenRecord works;
    InitMenuOrvo(works.get());
    works->pageIdx = BAR_MAIN;
    works->ampBypass = 1;
    LoadButtons(works.get(), SerParam{});
    expectButtonShows(works.fb(), 2, " IN-ATT", "  StBy");

    works->ampBypass = 0;
    works->attenuator = 2;
    listErrors(works.get(), {4, 14});
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    expectButtonShows(works.fb(), 2, " IN-ATT", "  3dB");
    expectButtonShows(works.fb(), 1, "RESET", " Error ");
    // A temperature alarm alone is drawn as a tile but leaves the key its own labels.
    listErrors(works.get(), {22});
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    expectButtonShows(works.fb(), 1, "  MEM", "BANK1");
    EXPECT_EQ((Rgb{255, 30, 0}), pixel(works.fb(), 8, 373));

    // The reset bar offers every bank after the last one.
    works->pageIdx = BAR_RESET;
    works->resetBank = works->maxBank;
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    expectButtonShows(works.fb(), 2, " BANK", "  ALL");
    // A label set for another bar than the current one changes nothing.
    works->pageIdx = BAR_MAIN;
    works->resetBank = 3;
    LoadButtons(works.get(), SerParam{});
    EXPECT_STREQ("  ALL", barLabels(BAR_RESET).label[1][1]);
}

TEST(Layout, FaultTilesShowTheNewestSixAndNothingOverAPage)
{
    ScreenRecord works;
    InitMenuOrvo(works.get());
    listErrors(works.get(), {4, 14});
    LoadButtons(works.get(), SerParam{});
    saveScreen(works.fb(), "tiles_4_14");
    EXPECT_EQ((Rgb{250, 150, 0}), pixel(works.fb(), 8, 373));    // warnings are orange
    EXPECT_EQ((Rgb{250, 150, 0}), pixel(works.fb(), 136, 373));
    EXPECT_EQ((Rgb{255, 255, 255}), pixel(works.fb(), 5, 380));   // white border
    EXPECT_EQ((Rgb{255, 255, 255}), pixel(works.fb(), 60, 415));
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(works.fb(), 270, 373));       // no third tile

    // Eight errors: the tiles show entries 2..7, as six errors alone would.
    std::unique_ptr<FrameBuffer, FbDeleter> six(fbCreateInMemory(800, 480, 4));
    listErrors(works.get(), {5, 6, 7, 8, 9, 10, 11, 12});
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    FrameBuffer* eight = works.fb();
    std::vector<Rgb> withEight;
    for (int y = TILE_TOP; y <= TILE_BOTTOM + 1; ++y)
        for (int x = 0; x < 800; ++x)
            withEight.push_back(pixel(eight, x, y));
    listErrors(works.get(), {7, 8, 9, 10, 11, 12});
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    size_t i = 0;
    int differing = 0;
    for (int y = TILE_TOP; y <= TILE_BOTTOM + 1; ++y)
        for (int x = 0; x < 800; ++x)
            differing += withEight[i++] != pixel(works.fb(), x, y);
    EXPECT_EQ(0, differing);

    // Every error's two lines fit inside the narrowest tile (its border excluded).
    for (int code = 0; code < ERROR_CODES; ++code) {
        const ErrorDescriptor d = errorDescriptor(works.get(), code);
        for (const char* line : {d.title, d.detail})
            EXPECT_LE(tileColumns[0][0] + 4 + getStringSpace(10, line), tileColumns[0][1]) << code << " " << line;
    }

    // Any page over the views hides the tiles.
    works->statusView = 2;
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(works.fb(), 8, 373));
}

TEST(Layout, TxIndicatorWhileTransmittingExceptOnTheStatusPage)
{
    ScreenRecord works;
    InitMenuOrvo(works.get());
    works->statoAmp[1] = 1;
    LoadButtons(works.get(), SerParam{});
    EXPECT_EQ((Rgb{250, 0, 0}), pixel(works.fb(), 376, 176));
    EXPECT_EQ((Rgb{250, 0, 0}), pixel(works.fb(), 429, 209));
    works->pageIdx = BAR_MENU;
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    EXPECT_EQ((Rgb{250, 0, 0}), pixel(works.fb(), 376, 176));
    works->statusView = 1;
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(works.fb(), 376, 176));
    works->statusView = 0;
    works->statoAmp[1] = 0;
    clearScreen(works.fb());
    LoadButtons(works.get(), SerParam{});
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(works.fb(), 376, 176));
}

// A frame of the screen loop, as the panel would show it.
void drawFrame(ScreenRecord& works, TimerLoopState& state)
{
    works->lastActivity = monoMillis();
    timerFrame(works.get(), state);
}

bool redNear(FrameBuffer* fb, NeedleTip tip, Rgb colour)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (pixel(fb, tip.x + dx, tip.y + dy) == colour)
                return true;
    return false;
}

TEST(Screens, ViewsPagesAndBarsDrawnByTheScreenLoop)
{
    ScreenRecord works;
    InitMenuOrvo(works.get());
    TimerLoopState state;
    works->interfaceMode = 0;
    works->freqMeasured = 14070000;
    works->pwrFwd = 35;
    works->pwrRefl = 2.5f;
    works->swr = 1.8f;
    works->pwrIn = 1.2f;
    works->pwrPeak = 48;
    works->enablePwrPeak = 1;
    works->reloadImg = 0;
    auto spectrum = std::make_unique<SpectrumRecord>();
    for (int i = 0; i < 1024; ++i)
        spectrum->trace[i] = static_cast<float>(-100 + static_cast<int>(30 * std::exp(-(i - 427) * (i - 427) / 200.0)) + (i * 7) % 5);
    works->spectrum = spectrum.get();

    for (int page = 1; page <= 5; ++page) {
        works->screenPage = page;
        SetWorkImg(works.get());
        drawFrame(works, state);
        drawFrame(works, state);  // the peak needles start on the second frame
        saveScreen(works.fb(), "view_" + std::to_string(page));
        if (page <= 3) {
            // Live needle red at the reading, peak needle black at the held peak.
            EXPECT_TRUE(redNear(works.fb(), needleTip(METER_LEFT_X, needleAngle(35, 60)), {255, 0, 0})) << page;
            EXPECT_TRUE(redNear(works.fb(), needleTip(METER_LEFT_X, needleAngle(48, 60)), {0, 0, 0})) << page;
        }
    }
    // View 2's right needle stands at the SWR scale's steps (peak needle off, so the live
    // needle is not covered by it).
    works->enablePwrPeak = 0;
    works->screenPage = 2;
    SetWorkImg(works.get());
    drawFrame(works, state);
    EXPECT_TRUE(redNear(works.fb(), needleTip(METER_RIGHT_X, needleAngle(CalcolaSWR(1.8f), 60)), {255, 0, 0}));

    // The status page, while transmitting with a fault: neither TX nor tiles.
    works->screenPage = 1;
    works->statoAmp[1] = 1;
    listErrors(works.get(), {4});
    setLanAddresses({"192.168.1.40", "255.255.255.0", "192.168.1.1", "192.168.1.1"});
    works->serPar->frequency = 14070123;  // shown in brackets on the status page
    works->setup->enaser = '1';  // the VIEW key would start the transceiver link otherwise
    DecodeTasto(works.get(), 6, 1 << 5);
    EXPECT_EQ(1, works->statusView);
    drawFrame(works, state);
    saveScreen(works.fb(), "status_page");
    // Identity blocks of full length and every value at its widest stay on their lines:
    // the picture's left edge, left of the titles, is untouched.
    memset(works->ampEE0, 'A', sizeof works->ampEE0);
    memset(works->ampEE1, 'B', sizeof works->ampEE1);
    works->ampEE2a = '1';
    works->ampModel = '1';
    works->tempMode = 1;
    works->rawCurrent = 4095;
    works->temp1 = works->temp2 = 80;
    works->retryTotal = works->retryStops = 4000000000u;
    drawFrame(works, state);
    saveScreen(works.fb(), "status_page_widest");
    std::unique_ptr<FrameBuffer, FbDeleter> bare(fbCreateInMemory(800, 480, 4));
    ASSERT_EQ(0, loadPngInto("status", 0, 0, bare.get(), 0));
    for (int y = 90; y <= 360; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(pixel(bare.get(), x, y, false), pixel(works.fb(), x, y)) << x << "," << y;
    EXPECT_NE((Rgb{250, 0, 0}), pixel(works.fb(), 376, 176));
    EXPECT_NE((Rgb{250, 150, 0}), pixel(works.fb(), 8, 373));
    // The server on the default password: the page says so on a line of its own (REMOTE,
    // below AMPL); with another password the line is not drawn.
    const auto remoteLineInk = [&] {
        size_t n = 0;
        for (int y = 360; y <= 376; ++y)
            for (int x = 5; x < 120; ++x)
                n += pixel(works.fb(), x, y) == Rgb{255, 255, 255};
        return n;
    };
    ASSERT_EQ('1', setupSwitch(works->setup, &Orvosetup::WebSocket));
    EXPECT_GT(remoteLineInk(), 20u);
    setSlot(works->remotePassword, "not-default");
    drawFrame(works, state);
    EXPECT_EQ(0u, remoteLineInk());
    DecodeTasto(works.get(), 6, 0);
    EXPECT_EQ(0, works->statusView);
    works->statoAmp[1] = 0;
    listErrors(works.get(), {});

    // The bank table page (a long press of key 1) and its bar.
    DecodeTasto(works.get(), 1, 1);
    EXPECT_EQ(BAR_INTERFACE, works->pageIdx);
    drawFrame(works, state);
    saveScreen(works.fb(), "bank_table_page");
    expectButtonShows(works.fb(), 2, " INTERF", "Generic");
    DecodeTasto(works.get(), 1, 0);
    EXPECT_EQ(BAR_MAIN, works->pageIdx);

    // The tune bar and the manual-tune bar.
    works->pageIdx = BAR_TUNE;
    drawFrame(works, state);
    saveScreen(works.fb(), "tune_bar");
    expectButtonShows(works.fb(), 4, "  TUNE", "   Off");
    expectButtonShows(works.fb(), 5, "   ATU", "   On");
    works->pageIdx = BAR_MANUAL_TUNE;
    works->induttanza = 123;
    works->capacita = 456;
    works->tuneval = (1u << 23);
    drawFrame(works, state);
    saveScreen(works.fb(), "manual_tune_bar");
    expectButtonShows(works.fb(), 1, " BACK ", "CL");
    expectButtonShows(works.fb(), 3, "   up L", "     123");
    expectButtonShows(works.fb(), 5, "   up C", "     456");

    // The fatal error screen with its retry bar, until it is left.
    works->pageIdx = BAR_MAIN;
    snprintf(works->fatalErrorText, sizeof works->fatalErrorText, "Linear: Unable to open device /dev/ttyAMA0");
    works->fatalError = 1;
    drawFrame(works, state);
    saveScreen(works.fb(), "fatal_error");
    // The long message stays on its line: the picture's left edge is untouched by it.
    ASSERT_EQ(0, loadPngInto("start", 0, 0, bare.get(), 0));
    for (int y = 260; y <= 310; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(pixel(bare.get(), x, y, false), pixel(works.fb(), x, y)) << x << "," << y;
    EXPECT_EQ(BAR_RETRY, works->pageIdx);
    expectButtonShows(works.fb(), 5, " Retry", " ");
    expectButtonShows(works.fb(), 6, "Cancel", " ");
    works->fatalError = -1;
    drawFrame(works, state);
    EXPECT_EQ(BAR_MAIN, works->pageIdx);
    EXPECT_EQ(0, works->fatalError);
}

} // namespace
