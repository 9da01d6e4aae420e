// The lower area's views drawn from a record into an in-memory panel: the menu rows at the
// first, a middle and the last item, while editing a number and an address, the memory
// table page, the filter page and the status strip; every text inside its place. The
// screens are saved under <build>/test-output/screens.
#include "amplifier/thermal.h"
#include "config/antenna_table.h"
#include "config/network.h"
#include "screen_support.h"
#include "ui/menu.h"
#include "ui/menu_items.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

using namespace screentest;

namespace {

bool isBlack(const Rgb& c)
{
    return c == Rgb{0, 0, 0};
}

// Draws the view alone on a black panel.
void drawView(ScreenRecord& works)
{
    memset(works.fb()->drawBuf, 0, works.fb()->memSize);
    DrawParameters(works.get());
}

// Columns x0..x1 in rows y0..y1 where `ink` holds for a pixel.
struct Extent {
    int left = 10000, right = -1, count = 0;
};
Extent inkExtent(FrameBuffer* fb, int x0, int x1, int y0, int y1, const std::function<bool(const Rgb&)>& ink)
{
    Extent e;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (ink(pixel(fb, x, y))) {
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x);
                ++e.count;
            }
    return e;
}

bool notBandGrey(const Rgb& c)
{
    return c != Rgb{40, 40, 40} && c != Rgb{80, 80, 80};
}

// The menu band and its texts: nothing outside the band's rows, every value ends at the
// right edge of the values (790), the current row's value is right-aligned there.
void expectMenuInPlace(ScreenRecord& works, int bandTop, int bandBottom)
{
    FrameBuffer* fb = works.fb();
    EXPECT_EQ(0, inkExtent(fb, 0, 799, 0, bandTop - 1, [](const Rgb& c) { return !isBlack(c); }).count);
    // The next row's baseline is 4 rows above the band's end: descenders may reach past it.
    EXPECT_EQ(0, inkExtent(fb, 0, 799, bandBottom + 6, 479, [](const Rgb& c) { return !isBlack(c); }).count);
    const Extent all = inkExtent(fb, 1, 799, bandTop, bandBottom, notBandGrey);
    EXPECT_GT(all.count, 0);
    EXPECT_LE(all.right, 791) << "a value runs past the right edge";
    EXPECT_GE(all.left, 20);
    const int lightTop = bandTop + 26, lightBottom = bandTop + 54;
    const Extent current = inkExtent(fb, 600, 799, lightTop, lightBottom, notBandGrey);
    EXPECT_GE(current.right, 784) << "the current value is right-aligned at 790";
}

TEST(MenuScreen, MenuRowsAtTheFirstAMiddleAndTheLastItemAndWhileEditing)
{
    ScreenRecord works;
    InitMenuOrvo(works.get());
    setLanAddresses({"192.168.1.40", "255.255.255.0", "192.168.1.1", "192.168.1.1"});
    works->pageIdx = BAR_MENU;
    const struct {
        int item;
        const char* name;
    } shots[] = {{0, "menu_first_item"}, {15, "menu_middle_item"}, {31, "menu_last_item"}};
    for (const auto& shot : shots) {
        works->menuIdx = shot.item;
        drawView(works);
        saveScreen(works.fb(), shot.name);
        expectMenuInPlace(works, 285, 364);
    }
    // The first item's previous row is the last item, as is the next row of item 30: the
    // same pixels, 55 rows apart.
    works->menuIdx = 0;
    drawView(works);
    std::vector<Rgb> previousOfFirst;
    for (int y = 286; y <= 309; ++y)
        for (int x = 1; x < 800; ++x)
            previousOfFirst.push_back(pixel(works.fb(), x, y));
    works->menuIdx = 30;
    drawView(works);
    std::vector<Rgb> nextOf30;
    for (int y = 286 + 55; y <= 309 + 55; ++y)
        for (int x = 1; x < 800; ++x)
            nextOf30.push_back(pixel(works.fb(), x, y));
    EXPECT_TRUE(previousOfFirst == nextOf30);

    // With the status page open the rows move down.
    works->statusView = 1;
    works->menuIdx = 5;
    drawView(works);
    expectMenuInPlace(works, 335, 414);
    saveScreen(works.fb(), "menu_over_status_page");
    works->statusView = 0;

    // Editing a number: the value in the edit font, still right-aligned.
    works->pageIdx = BAR_MENU_EDIT;
    works->menuIdx = ITEM_RELEASE_TIME;
    TimerPeakSec = 5000;
    drawView(works);
    saveScreen(works.fb(), "menu_edit_number");
    expectMenuInPlace(works, 285, 364);

    // Editing an address: the octet under the cursor light, the rest orange, together
    // ending at 790.
    works->menuIdx = ITEM_IP;
    modifyLanValue(LAN_IP, 3);
    modifyLanValue(LAN_IP, 3);  // cursor on the second octet
    drawView(works);
    saveScreen(works.fb(), "menu_edit_address");
    expectMenuInPlace(works, 285, 364);
    auto light = [](const Rgb& c) { return c[0] > 200 && c[1] > 200 && c[2] > 200; };
    auto orange = [](const Rgb& c) { return c[0] > 200 && c[1] > 100 && c[1] < 190 && c[2] < 60; };
    const Extent cursorOctet = inkExtent(works.fb(), 600, 799, 311, 339, light);
    const Extent others = inkExtent(works.fb(), 600, 799, 311, 339, orange);
    ASSERT_GT(cursorOctet.count, 0);
    ASSERT_GT(others.count, 0);
    EXPECT_LT(others.left, cursorOctet.left) << "the first octet left of the cursor";
    EXPECT_GT(others.right, cursorOctet.right) << "the last two octets right of it";
}

TEST(MenuScreen, MemoryTableAndFilterPagesKeepTheirColumns)
{
    ScreenRecord works;
    InitTabAntenna(works.get(), 0);
    works->interfaceMode = 2;
    works->numBanco = 19;
    works->antennaTable[3].pwr = 123.4f;
    works->antennaTable[3].att = 3;
    works->antennaTable[3].ampEnable = 1;
    works->tabRow = 3;
    works->tabCol = 2;
    works->statusView = 2;
    drawView(works);
    saveScreen(works.fb(), "memory_table_page");
    // The cell under edit in red in the AmpEnable column of row 4, nowhere else.
    auto red = [](const Rgb& c) { return c[0] > 200 && c[1] < 80 && c[2] < 80; };
    const Extent redCell = inkExtent(works.fb(), 0, 799, 0, 479, red);
    ASSERT_GT(redCell.count, 0);
    EXPECT_GE(redCell.left, 350);
    EXPECT_LT(redCell.right, 470);
    // Every column's texts end before the next column starts (the widest values).
    const int columns[] = {50, 90, 170, 250, 350, 470, 540};
    for (size_t c = 0; c + 1 < std::size(columns); ++c)
        EXPECT_EQ(0, inkExtent(works.fb(), columns[c + 1] - 3, columns[c + 1] - 1, 112, 372,
                               [](const Rgb& p) { return !isBlack(p); })
                         .count)
            << "column " << c << " runs into the next";
    // Eleven rows, the last baseline at 350; nothing below the rows.
    EXPECT_EQ(0, inkExtent(works.fb(), 0, 799, 356, 479, [](const Rgb& p) { return !isBlack(p); }).count);

    works->statusView = 4;
    for (int i = 0; i < FILTER_ROWS; ++i)
        works->filterTable[i] = FilterRow{1800000u + 100000000u * static_cast<uint32_t>(i % 2), 30000000, static_cast<uint8_t>(i % 2)};
    works->filterIdx = 5;
    drawView(works);
    saveScreen(works.fb(), "filter_page");
    for (int x : {290, 490})
        EXPECT_EQ(0, inkExtent(works.fb(), x - 3, x - 1, 112, 300, [](const Rgb& p) { return !isBlack(p); }).count)
            << "column before " << x;
    auto orange = [](const Rgb& c) { return c[0] > 200 && c[1] > 100 && c[1] < 190 && c[2] < 60; };
    const Extent selected = inkExtent(works.fb(), 0, 799, 112, 300, orange);
    EXPECT_GE(selected.left, 50);
    EXPECT_GT(selected.count, 0);
    EXPECT_EQ(0, inkExtent(works.fb(), 0, 799, 112, 22 * 5 + 130 - 20, orange).count) << "only row 6 in orange";
}

TEST(MenuScreen, StatusStripTextsStayInsideTheirBoxes)
{
    ScreenRecord works;
    InitTabAntenna(works.get(), 0);
    works->pageIdx = BAR_MAIN;
    works->interfaceMode = 1;
    works->frequency = 21200000;
    works->ampBypass = 0;
    works->attenuator = 3;
    works->antenna = 2;
    works->atuBypass = 1;
    works->remoteActive = 1;
    works->remoteThreadExited = 1;
    works->tempMode = 1;
    works->temp1 = 99.9f;
    works->temp2 = 99.9f;
    works->cpuTemp1 = 99.9f;
    works->rawCurrent = 4095;
    works->msgFlags = 4;
    works->enableDebug = 1;
    works->rawIn = 4095;
    works->rawFwd = 4095;
    works->rawRefl = 4095;
    works->swr = 99.99f;
    drawView(works);
    saveScreen(works.fb(), "status_strip");
    const int boxes[7][2] = {{1, 110}, {115, 260}, {265, 400}, {405, 520}, {525, 600}, {605, 710}, {715, 799}};
    for (const auto& box : boxes) {
        EXPECT_GT(inkExtent(works.fb(), box[0] + 1, box[1] - 1, 280, 302, [](const Rgb& p) { return !isBlack(p); }).count, 0)
            << "box " << box[0] << " is empty";
    }
    for (int i = 0; i + 1 < 7; ++i)
        EXPECT_EQ(0, inkExtent(works.fb(), boxes[i][1] + 1, boxes[i + 1][0] - 1, 279, 302,
                               [](const Rgb& p) { return !isBlack(p); })
                         .count)
            << "text between box " << i << " and the next";
    // Remote with its threads ended reads red.
    auto red = [](const Rgb& c) { return c[0] > 200 && c[1] < 80 && c[2] < 80; };
    EXPECT_GT(inkExtent(works.fb(), 716, 798, 280, 302, red).count, 0);
    // The temperatures and voltage lines stay inside their boxes.
    EXPECT_LE(inkExtent(works.fb(), 2, 799, 308, 331, [](const Rgb& p) { return p[1] == 200 && p[0] == 0; }).right, 798);
    EXPECT_EQ(0, inkExtent(works.fb(), 395, 404, 308, 331, [](const Rgb& p) { return p[1] > 60 && p[0] < 60 && p[2] < 60; }).count);
    // The band box: the last row holding the frequency, and NOPA between 26 and 28 MHz.
    works->frequency = 26000000;
    drawView(works);
    saveScreen(works.fb(), "status_strip_nopa");
}

// The coax box shows the mode the board reports, whatever interface was asked for: the
// inside of the box reads as the text drawn alone in its place.
TEST(MenuScreen, CoaxBoxShowsTheBoardsReportedMode)
{
    ScreenRecord works;
    auto boxReads = [&](const char* expected) {
        std::unique_ptr<FrameBuffer, FbDeleter> ref(fbCreateInMemory(800, 480, 4));
        putString(8, 125, 298, expected, 0, 200, 255, ref.get(), 0);
        int differing = 0;
        for (int y = 279; y <= 302; ++y)
            for (int x = 116; x <= 259; ++x)
                differing += pixel(works.fb(), x, y) != pixel(ref.get(), x, y);
        return differing;
    };
    const struct {
        int interfaceMode;
        uint8_t coax;
        const char* shown;
    } cases[] = {{0, 1, "Coax:RX+TX"}, {0, 0, "  Coax:RTX"}, {1, 1, "Coax:RX+TX"}, {1, 0, "  Coax:RTX"}};
    for (const auto& c : cases) {
        works->interfaceMode = c.interfaceMode;
        works->coaxRxTx = c.coax;
        drawView(works);
        EXPECT_EQ(0, boxReads(c.shown)) << "interface " << c.interfaceMode << ", board's coax bit " << int{c.coax};
    }
}

TEST(MenuScreen, NothingOverTheStatusPageOrTheFatalErrorScreen)
{
    ScreenRecord works;
    works->statusView = 1;
    drawView(works);
    EXPECT_EQ(0, inkExtent(works.fb(), 0, 799, 0, 479, [](const Rgb& p) { return !isBlack(p); }).count);
    works->statusView = 0;
    works->fatalError = 1;
    works->pageIdx = BAR_MENU;
    drawView(works);
    EXPECT_EQ(0, inkExtent(works.fb(), 0, 799, 0, 479, [](const Rgb& p) { return !isBlack(p); }).count);
    works->fatalError = 0;
    works->pageIdx = BAR_MAIN;
    works->svcFlags = 4;
    drawView(works);
    EXPECT_GT(inkExtent(works.fb(), 100, 799, 380, 405, [](const Rgb& p) { return !isBlack(p); }).count, 0);
    EXPECT_EQ(0, inkExtent(works.fb(), 0, 799, 275, 340, [](const Rgb& p) { return !isBlack(p); }).count)
        << "no status strip under the firmware notice";
}

} // namespace
