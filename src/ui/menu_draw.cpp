// The lower screen area's views: the settings menu (three rows of it), the bank's memory
// table page, the filter page, the service notices and the status strip.
#include "amplifier/thermal.h"
#include "config/antenna_table.h"
#include "config/network.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "ui/labels.h"
#include "ui/menu.h"
#include "ui/menu_items.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace {

struct Colour {
    int r, g, b;
};
constexpr Colour ORANGE{250, 150, 0};
constexpr Colour WHITE{255, 255, 255};
constexpr Colour LIGHT{250, 250, 250};
constexpr Colour RED{255, 0, 0};
constexpr Colour ALERT{250, 0, 0};
constexpr Colour CYAN{0, 200, 255};
constexpr Colour GREEN{0, 200, 0};

constexpr int VALUE_RIGHT = 790;  // values end here
constexpr int TEXT_FONT = 8;

void text(FrameBuffer* fb, int font, int x, int y, const char* s, Colour c)
{
    putString(font, x, y, s, c.r, c.g, c.b, fb, 0);
}

void rightAligned(FrameBuffer* fb, int font, int y, const char* s, Colour c)
{
    text(fb, font, VALUE_RIGHT - getStringSpace(font, s), y, s, c);
}

// Geometry of the three menu rows: higher, or lower while the status page is open.
struct MenuGeometry {
    int bandTop, bandBottom, lightTop, lightBottom;
    int baseline[3];  // previous, current, next
};
constexpr MenuGeometry menuHigh{285, 364, 311, 339, {305, 335, 360}};
constexpr MenuGeometry menuLow{335, 414, 361, 389, {355, 385, 410}};

void menuBand(FrameBuffer* fb, const MenuGeometry& g)
{
    for (int y = g.bandTop; y <= g.bandBottom; ++y) {
        const int grey = y >= g.lightTop && y <= g.lightBottom ? 80 : 40;
        DrawHorizontalLine(1, y, 800, grey, grey, grey, fb, 0);
    }
}

void rowTitle(FrameBuffer* fb, int font, int y, int item, int sub, Colour c)
{
    char number[16];
    snprintf(number, sizeof number, "%d -", menuPar[item].number);
    text(fb, font, 20, y, number, c);
    text(fb, font, 70, y, menuPar[item].group, c);
    text(fb, font, 350, y, menuItemLabel(item, sub), c);
}

void neighbourRow(Works* works, int y, int item)
{
    char value[64] = "";
    LoadParameterMenu(works, value, sizeof value, item, 0);
    rowTitle(works->fb, 1, y, item, 0, ORANGE);
    rightAligned(works->fb, 11, y, value, ORANGE);
}

// An address under edit: the octet under the cursor light, the rest with their dots in
// orange, the three pieces ending together at the right edge of the values.
void addressUnderEdit(FrameBuffer* fb, int y, const LanValue& v)
{
    std::string before = " ";
    std::string after = " ";
    const int cursor = v.cursor >= 0 && v.cursor <= 3 ? v.cursor : 3;
    if (cursor > 0) {
        before.clear();
        for (int i = 0; i < cursor; ++i)
            before += std::to_string(v.octets[static_cast<size_t>(i)]) + ".";
    }
    if (cursor < 3) {
        after.clear();
        for (int i = cursor + 1; i < 4; ++i)
            after += "." + std::to_string(v.octets[static_cast<size_t>(i)]);
    }
    const std::string at = std::to_string(v.octets[static_cast<size_t>(cursor)]);
    constexpr int font = 7;
    const int wBefore = getStringSpace(font, before.c_str());
    const int wAt = getStringSpace(font, at.c_str());
    const int x = VALUE_RIGHT - wBefore - wAt - getStringSpace(font, after.c_str());
    text(fb, font, x, y, before.c_str(), ORANGE);
    text(fb, font, x + wBefore, y, at.c_str(), LIGHT);
    text(fb, font, x + wBefore + wAt, y, after.c_str(), ORANGE);
}

void currentRow(Works* works, int y, int item, int sub)
{
    FrameBuffer* fb = works->fb;
    char value[64] = "";
    LoadParameterMenu(works, value, sizeof value, item, sub);
    rowTitle(fb, 7, y, item, sub, WHITE);
    if (works->pageIdx != BAR_MENU_EDIT)
        rightAligned(fb, 0, y, value, WHITE);
    else if (menuItemIsAddress(item))
        addressUnderEdit(fb, y, lanValue(item - ITEM_IP));
    else
        rightAligned(fb, 7, y, value, LIGHT);
}

void menuView(Works* works)
{
    const MenuGeometry& g = (works->statusView & 1) ? menuLow : menuHigh;
    const int count = works->menuCount > 0 && works->menuCount <= MENU_ITEMS ? works->menuCount.load() : MENU_ITEMS;
    int item = works->menuIdx;
    if (item < 0 || item >= count)
        item = 0;
    menuBand(works->fb, g);
    neighbourRow(works, g.baseline[0], previousMenuItem(item, count));
    currentRow(works, g.baseline[1], item, works->menuSub);
    neighbourRow(works, g.baseline[2], nextMenuItem(item, count));
}

const char* attenuatorName(int att)
{
    return att >= 0 && att <= 4 ? AttVectStr[att] : "";
}

void memoryTablePage(Works* works)
{
    FrameBuffer* fb = works->fb;
    char line[96];
    snprintf(line, sizeof line, " Memory Table Bank %i - Interface: %s", works->numBanco.load(),
             interfaceName(works->interfaceMode));
    text(fb, 0, 100, 50, line, ORANGE);
    text(fb, TEXT_FONT, 50, 100, "N     Band     Pwr    Att(dB)  AmpEnable    Ant       Atu", LIGHT);
    const std::array<AntennaRow, ANT_ROWS> table = antennaTableCopy(works);
    const int rows = std::min<int>(works->antennaRows, ANT_ROWS);
    const int selectedRow = works->tabRow;
    const int selectedColumn = works->tabCol;
    constexpr int columnX[5] = {170, 250, 350, 470, 540};
    for (int row = 0; row < rows; ++row) {
        const AntennaRow& r = table[static_cast<size_t>(row)];
        const int y = 22 * row + 130;
        const Colour c = row == selectedRow ? ORANGE : LIGHT;
        char cell[6][32];
        snprintf(cell[0], sizeof cell[0], "%i", row + 1);
        snprintf(cell[1], sizeof cell[1], "%2.1f", static_cast<double>(r.pwr));
        snprintf(cell[2], sizeof cell[2], "%s", attenuatorName(r.att));
        snprintf(cell[3], sizeof cell[3], "%s", r.ampEnable == 1 ? "On" : "Off");
        snprintf(cell[4], sizeof cell[4], "%x", r.ant);
        snprintf(cell[5], sizeof cell[5], "%s", r.atuBypass == 1 ? "Off" : "On");
        text(fb, TEXT_FONT, 50, y, cell[0], c);
        text(fb, TEXT_FONT, 90, y, r.band, c);
        for (int column = 0; column < 5; ++column) {
            // The cell under edit stands out in red.
            if (row == selectedRow && column == selectedColumn)
                text(fb, 7, columnX[column], y, cell[column + 1], RED);
            else
                text(fb, TEXT_FONT, columnX[column], y, cell[column + 1], c);
        }
    }
}

void filterPage(Works* works)
{
    FrameBuffer* fb = works->fb;
    text(fb, 0, 250, 50, "FILTER SETTINGS", ORANGE);
    text(fb, TEXT_FONT, 50, 100, "N    Start (Hz)                 Stop(Hz)                   Enabled", LIGHT);
    const int selected = works->filterIdx;
    for (int row = 0; row < FILTER_ROWS; ++row) {
        const FilterRow& f = works->filterTable[row];
        const int y = 22 * row + 130;
        const Colour c = row == selected ? ORANGE : LIGHT;
        char cell[32];
        snprintf(cell, sizeof cell, "%i", row + 1);
        text(fb, TEXT_FONT, 50, y, cell, c);
        snprintf(cell, sizeof cell, "%d", static_cast<int>(f.freqStart));
        text(fb, TEXT_FONT, 90, y, cell, c);
        snprintf(cell, sizeof cell, "%d", static_cast<int>(f.freqStop));
        text(fb, TEXT_FONT, 290, y, cell, c);
        text(fb, TEXT_FONT, 490, y, f.enabled == 1 ? "On" : "Off", c);
    }
}

void debugLine(Works* works)
{
    char line[96];
    snprintf(line, sizeof line, "PW %04d FWD %04d REFL %04d SWR %03.02f (%X)", works->rawIn.load(),
             works->rawFwd.load(), works->rawRefl.load(), static_cast<double>(works->swr), works->supply[3].load());
    text(works->fb, TEXT_FONT, 5, 275, line, ALERT);
    const uint32_t tuneval = works->tuneval;
    snprintf(line, sizeof line, "freq %lu L%i,C%i,%s", static_cast<unsigned long>(works->freqMeasured),
             works->induttanza.load(), works->capacita.load(), tuneModeText(tuneval));
    text(works->fb, TEXT_FONT, 500, 275, line, ALERT);
}

const char* noticeText(uint32_t msgFlags)
{
    if (msgFlags & 1)
        return "Entering second function...";
    if (msgFlags & 2)
        return "ATU ByPass not saved!";
    if (msgFlags & 4)
        return "Set to Local Mode: Remote not started. Verify connections";
    return nullptr;
}

// The band box: "NOPA" where the amplifier does not work, else the last table row that
// holds the frequency.
std::string bandText(Works* works)
{
    const uint32_t f = works->frequency;
    if (f >= 26000000 && f <= 28000000)
        return "NOPA";
    const std::array<AntennaRow, ANT_ROWS> table = antennaTableCopy(works);
    const int rows = std::min<int>(works->antennaRows, ANT_ROWS);
    const char* band = "---";
    for (int i = 0; i < rows; ++i) {
        const AntennaRow& r = table[static_cast<size_t>(i)];
        if (r.freqStart <= static_cast<int64_t>(f) && static_cast<int64_t>(f) <= r.freqStop)
            band = r.band;
    }
    return std::string("Band:") + band;
}

// A text of the status strip inside its box (up to column right): in the strip's font
// when it fits, else in the smaller ones, else cut.
void fitted(FrameBuffer* fb, int x, int right, int y, const char* s, Colour c)
{
    for (int font : {TEXT_FONT, 10, 6}) {
        if (x + getStringSpace(font, s) <= right) {
            text(fb, font, x, y, s, c);
            return;
        }
    }
    std::string cut(s);
    while (!cut.empty() && x + getStringSpace(6, cut.c_str()) > right)
        cut.pop_back();
    text(fb, 6, x, y, cut.c_str(), c);
}

void boxed(Works* works, int x0, int x1, int textX, const char* s, Colour c)
{
    DrawRect(works, x0, 278, x1, 303, 200, 200, 200);
    fitted(works->fb, textX, x1 - 2, 298, s, c);
}

void statusStrip(Works* works)
{
    if (works->enableDebug)
        debugLine(works);
    if (const char* notice = noticeText(works->msgFlags))
        text(works->fb, TEXT_FONT, 5, 350, notice, LIGHT);

    char s[96];
    boxed(works, 1, 110, 10, interfaceName(works->interfaceMode), CYAN);
    // The coax mode as the board reports it (the general-settings bit the program sets for
    // the Generic interface), not as it was asked for.
    boxed(works, 115, 260, 125, works->coaxRxTx ? "Coax:RX+TX" : "  Coax:RTX", CYAN);
    boxed(works, 265, 400, 275, bandText(works).c_str(), CYAN);
    if (works->ampBypass == 1)
        snprintf(s, sizeof s, "Att %s", AttVectStr[4]);
    else
        snprintf(s, sizeof s, "Att %sdB", attenuatorName(works->attenuator));
    boxed(works, 405, 520, 415, s, CYAN);
    snprintf(s, sizeof s, "Ant %d", works->antenna + 1);
    boxed(works, 525, 600, 535, s, CYAN);
    boxed(works, 605, 710, 615, works->atuBypass ? "Atu: Bpy" : "Atu: On", CYAN);
    const bool remote = works->remoteActive == 1;
    boxed(works, 715, 799, 725, remote ? "Remote" : "Local", remote && works->remoteThreadExited == 1 ? ALERT : CYAN);

    DrawRect(works, 1, 307, 400, 332, 100, 100, 100);
    const bool fahrenheit = works->tempMode != 0;
    auto temp = [&](float c) { return static_cast<double>(fahrenheit ? ConversionCelsius_to_Fahrenheit(c) : c); };
    snprintf(s, sizeof s, fahrenheit ? "PA1:%04.01f°F   P2:%04.01f°F    CPU:%04.01f°F" : "PA1:%04.01f°C   P2:%04.01f°C    CPU:%04.01f°C",
             temp(works->temp1), temp(works->temp2), temp(works->cpuTemp1));
    fitted(works->fb, 10, 398, 327, s, GREEN);

    DrawRect(works, 405, 307, 799, 332, 100, 100, 100);
    const double volts = CalvTensVadcAmp(works, works->supply[3]);
    const double amps = works->rawCurrent / 4096.0 * 14.05;
    if (works->ampModel != '1' && volts > 20)
        snprintf(s, sizeof s, "PA Voltage: -----       Current: %04.01fA", amps);
    else
        snprintf(s, sizeof s, "PA Voltage: %04.01fV       Current: %04.01fA", volts, amps);
    fitted(works->fb, 415, 797, 327, s, GREEN);
}

} // namespace

void DrawParameters(Works* works)
{
    if (works->fatalError > 0)
        return;
    const int page = works->pageIdx;
    if (page == BAR_MENU || page == BAR_MENU_EDIT) {
        menuView(works);
        if (works->msgFlags & 8)
            text(works->fb, TEXT_FONT, 5, 400, "Update UI in progress: Wait for reset (max 2min)", LIGHT);
        return;
    }
    if (works->svcFlags & 4) {
        text(works->fb, TEXT_FONT, 100, 400, "FW UPDATE: please update fw with FlashMagic and then Reset HW", LIGHT);
        return;
    }
    const uint8_t view = works->statusView;
    if (view & 2) {
        memoryTablePage(works);
        return;
    }
    if (view & 4) {
        filterPage(works);
        return;
    }
    if (view == 1)
        return;
    statusStrip(works);
}
