#include "ui/layout.h"

#include "amplifier/errors.h"
#include "amplifier/replies.h"
#include "amplifier/thermal.h"
#include "config/network.h"
#include "core/setup.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/picture.h"
#include "display/text.h"
#include "remote/ws_server.h"
#include "ui/labels.h"
#include "ui/menu.h"

#include <cstdio>
#include <mutex>
#include <string>

const ButtonGeometry buttonGeometry[6] = {
    {0, 129, 1, 129, 20, 30},       {133, 262, 134, 262, 143, 153}, {266, 395, 267, 395, 276, 286},
    {399, 528, 400, 529, 409, 419}, {532, 661, 533, 662, 542, 552}, {665, 798, 666, 798, 675, 695},
};

const int tileColumns[6][2] = {{5, 130}, {133, 263}, {266, 396}, {399, 529}, {532, 662}, {665, 795}};

namespace {

std::mutex pictureMutex;

constexpr int ORANGE[3] = {250, 150, 0};
constexpr int STATUS_FONT = 8;
constexpr int TILE_FONT = 10;

void fillRows(FrameBuffer* fb, int x0, int x1, int y0, int y1, int r, int g, int b)
{
    for (int y = y0; y <= y1; ++y)
        DrawHorizontalLine(x0, y, x1 + 1, r, g, b, fb, 0);
}

void drawLabel(Works* works, int font, int x, int y, const char* text)
{
    putString(font, x, y, text, ORANGE[0], ORANGE[1], ORANGE[2], works->fb, 0);
}

void drawButtonLabels(Works* works, const ButtonBar& bar, int button)
{
    const ButtonGeometry& g = buttonGeometry[button - 1];
    drawLabel(works, BUTTON_UPPER_FONT, g.upperX, BUTTON_UPPER_Y, bar.label[button - 1][0]);
    drawLabel(works, BUTTON_LOWER_FONT, g.lowerX, BUTTON_LOWER_Y, bar.label[button - 1][1]);
}

// The tune bar shows the tuner's state: not installed, or tuning on / off.
void tuneBarState(Works* works)
{
    if (static_cast<int8_t>(works->tuneEnabled) < 0) {
        setBarLabel(BAR_TUNE, 4, 1, "NotInst");
        return;
    }
    const char* state = works->tuneStatus != 0 ? "    On" : "   Off";
    setBarLabel(BAR_TUNE, works->fineTuneOk ? 3 : 4, 1, state);
}

void mainBarLabels(Works* works)
{
    setLowerNumberLabel(BAR_MAIN, 3, "     ", works->antenna + 1);
    SetAttenuatorLabel(works);
    SetModeWorkLabel(works);
    setLowerNumberLabel(BAR_MAIN, 6, "    ", works->screenPage);
}

// The identity block as text: its printable characters up to the first zero.
std::string identityText(const uint8_t* block, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && block[i] != 0; ++i)
        if (block[i] >= 0x20 && block[i] < 0x7F)
            out += static_cast<char>(block[i]);
    return out;
}

void statusLine(Works* works, int y, const char* title, const char* value)
{
    if (title)
        putString(STATUS_FONT, 5, y, title, 255, 255, 255, works->fb, 0);
    // A value too long for its line is set smaller, never wrapped onto the next one.
    drawFittedText(works->fb, STATUS_FONT, 6, 180, 180, y, value, 255, 255, 255);
}

} // namespace

void loadPanelFonts()
{
    const char* bold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    const char* sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    TTFLoad(bold, 24, 0);
    TTFLoad(sans, 22, 1);
    TTFLoad("/opt/fonts/PTS55F_W.ttf", 22, 2);
    TTFLoad("/opt/fonts/PTS75F_W.ttf", 24, 4);
    TTFLoad(sans, 8, 5);
    TTFLoad(sans, 14, 6);
    TTFLoad("/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf", 24, 7);
    TTFLoad(sans, 20, 8);
    TTFLoad(sans, 30, 9);
    TTFLoad(sans, 18, 10);
    TTFLoad(bold, 21, 11);
}

void drawFittedText(FrameBuffer* fb, int slot, int fallbackSlot, int x, int minX, int y, const char* text,
                    int red, int green, int blue)
{
    constexpr int rightMargin = 790;
    for (int s : {slot, fallbackSlot}) {
        const int width = getStringSpace(s, text);
        if (x + width <= rightMargin) {
            putString(s, x, y, text, red, green, blue, fb, 0);
            return;
        }
        if (minX + width <= rightMargin) {
            putString(s, rightMargin - width, y, text, red, green, blue, fb, 0);
            return;
        }
    }
    std::string cut(text);
    while (!cut.empty() && minX + getStringSpace(fallbackSlot, cut.c_str()) > rightMargin)
        cut.pop_back();
    putString(fallbackSlot, minX, y, cut.c_str(), red, green, blue, fb, 0);
}

void setBackground(Works* works, const char* name)
{
    std::lock_guard<std::mutex> lock(pictureMutex);
    setSlot(works->imgName, name);
    getPng(works, 1);
}

void startFrame(Works* works)
{
    std::lock_guard<std::mutex> lock(pictureMutex);
    fbRestoreChanged(works->fb);
}

int VerifyError(Works* works)
{
    for (int code : errorListCopy(works))
        if (code != 2 && code != 22 && code != 23 && code != 24)
            return 1;
    return 0;
}

void DrawTastoErrore(Works* works, int x0, int x1, int listPosition)
{
    const std::vector<int> list = errorListCopy(works);
    if (listPosition < 0 || listPosition >= static_cast<int>(list.size()))
        return;
    const ErrorDescriptor d = errorDescriptor(works, list[static_cast<size_t>(listPosition)]);
    FrameBuffer* fb = works->fb;
    if (d.flags & ERR_SEVERE)
        fillRows(fb, x0, x1, TILE_TOP, TILE_BOTTOM, 255, 30, 0);
    else
        fillRows(fb, x0, x1, TILE_TOP, TILE_BOTTOM, ORANGE[0], ORANGE[1], ORANGE[2]);
    DrawLine(x0, TILE_TOP, x0, TILE_BOTTOM + 1, 255, 255, 255, fb, 0);
    DrawLine(x1, TILE_TOP, x1, TILE_BOTTOM + 1, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x0 + 1, TILE_TOP, x1 + 1, 255, 255, 255, fb, 0);
    DrawHorizontalLine(x0 + 1, TILE_BOTTOM + 1, x1 + 1, 255, 255, 255, fb, 0);
    putString(TILE_FONT, x0 + 4, 390, d.title, 250, 250, 250, fb, 0);
    putString(TILE_FONT, x0 + 4, 410, d.detail, 250, 250, 250, fb, 0);
}

void DrawError(Works* works)
{
    if (works->statusView != 0)
        return;
    const int n = static_cast<int>(errorListCopy(works).size());
    if (n == 0)
        return;
    // Up to six tiles; a longer list shows its newest six, oldest on the left.
    const int first = n <= 6 ? 0 : n - 6;
    for (int tile = 0; tile < 6 && first + tile < n; ++tile)
        DrawTastoErrore(works, tileColumns[tile][0], tileColumns[tile][1], first + tile);
}

void ViewStatusTX(Works* works)
{
    if (works->statusView == 1 || !ampTransmitting(works))
        return;
    fillRows(works->fb, 375, 429, 175, 209, 250, 0, 0);
    putString(8, 390, 200, "TX", 255, 255, 255, works->fb, 0);
}

void ViewStatusInfo(Works* works, const SerParam& parameters)
{
    if (works->statusView != 1)
        return;
    const Orvosetup* s = works->setup;
    const bool fahrenheit = works->tempMode != 0;
    auto temp = [&](float c) { return static_cast<double>(fahrenheit ? ConversionCelsius_to_Fahrenheit(c) : c); };
    char text[160];

    const AmpIdentity id = ampIdentity(works);
    snprintf(text, sizeof text, "SW ver. %s, FW ver. %s", works->versione, id.microVersion);
    statusLine(works, 110, "VERSION", text);

    const char* type = works->ampEE2a == '0' ? "EU" : works->ampEE2a == '1' ? "USA" : "";
    const char* power = works->ampModel == '0' ? "60W" : works->ampModel == '1' ? "120W" : "";
    snprintf(text, sizeof text, "%s (%s), TYPE: %s, MAXPOWER: %s", identityText(id.ee0, 32).c_str(),
             identityText(id.ee1, 32).c_str(), type, power);
    statusLine(works, 132, "SN", text);

    snprintf(text, sizeof text, "FWD:%02.01f, RFL:%02.01f , PW:%02.01f, SWR:%02.01f", static_cast<double>(works->pwrFwd),
             static_cast<double>(works->pwrRefl), static_cast<double>(works->pwrIn), static_cast<double>(works->swr));
    statusLine(works, 154, "POWER", text);

    const bool serialOn = s && setupSwitch(s, &Orvosetup::enaser) == '1';
    snprintf(text, sizeof text, "%luHz(%lu)",
             static_cast<unsigned long>(serialOn ? works->frequency : works->freqMeasured),
             static_cast<unsigned long>(parameters.frequency));
    statusLine(works, 176, "FREQUENCY", text);

    const double amps = works->rawCurrent * 14.05 / 4096;
    snprintf(text, sizeof text,
             fahrenheit ? "Current:%05.01fA (%05.01f), Tbrd:%04.02f°F, Thsk:%04.02f°F"
                        : "Current:%05.01fA (%05.01f), Tbrd:%04.02f°C, Thsk:%04.02f°C",
             amps, static_cast<double>(works->rawCurrent), temp(works->temp1), temp(works->temp2));
    statusLine(works, 198, "TEMPERATURE", text);

    snprintf(text, sizeof text, fahrenheit ? "CPU:%4.01f°F, GPU:%4.01f°F" : "CPU:%2.01f°C, GPU:%2.01f°C",
             temp(works->cpuTemp1), temp(works->cpuTemp2));
    statusLine(works, 220, nullptr, text);

    snprintf(text, sizeof text, fahrenheit ? "Set Point Alarm %4.01f°F, FAN: %i%%" : "Set Point Alarm %04.02f°C, FAN: %i%%",
             temp(works->maxTemperature), works->fanPercentSent.load());
    statusLine(works, 242, nullptr, text);

    const LanAddresses lan = lanAddresses();
    snprintf(text, sizeof text, "IP:%s, NetMask:%s ", lan.ip.c_str(), lan.netMask.c_str());
    statusLine(works, 264, "LAN", text);
    snprintf(text, sizeof text, "Gateway:%s, DNS:%s ", lan.gateway.c_str(), lan.dns.c_str());
    statusLine(works, 286, nullptr, text);

    snprintf(text, sizeof text, "State 0x%02x 0x%02x,ES:%u,ER:%u", works->statoAmp[0].load(), works->statoAmp[1].load(),
             static_cast<unsigned>(works->retryTotal), static_cast<unsigned>(works->retryStops));
    statusLine(works, 308, "STATUS", text);
    statusLine(works, 330, nullptr, ExistError(works, ERR_IXO_EXTIO) ? "No EXT IO data" : "EXT IO connected");

    snprintf(text, sizeof text, "ver. %x, V12: %02.01fV, V15: %02.01fV, Vamp: %02.01fV", works->supply[0].load(),
             static_cast<double>(CalvTensVadcAmp(works, works->supply[1])),
             static_cast<double>(CalvTensVadcAmp(works, works->supply[2])),
             static_cast<double>(CalvTensVadcAmp(works, works->supply[3])));
    statusLine(works, 352, "AMPL", text);
    if (s && setupSwitch(s, &Orvosetup::WebSocket) == '1' && wsDefaultPasswordInUse(works))
        statusLine(works, 374, "REMOTE", "Default password: anyone on the network can operate");

    if (works->pageIdx == BAR_MAIN)
        putString(STATUS_FONT, 300, 400, works->dateTimeStr, 255, 255, 255, works->fb, 0);
}

void LoadButtons(Works* works, const SerParam& parameters)
{
    FrameBuffer* fb = works->fb;
    const int page = works->pageIdx;
    for (const ButtonGeometry& g : buttonGeometry)
        fillRows(fb, g.fillFrom, g.fillTo, BUTTON_TOP, BUTTON_BOTTOM, 40, 40, 40);

    const uint8_t flags = barLabels(page).flags;
    if (flags & BAR_MARK_BUTTON1)
        fillRows(fb, 2, 127, 478, 479, ORANGE[0], ORANGE[1], ORANGE[2]);
    if (flags & BAR_MARK_BUTTON6)
        fillRows(fb, 667, 796, 478, 479, ORANGE[0], ORANGE[1], ORANGE[2]);

    for (const ButtonGeometry& g : buttonGeometry)
        DrawHorizontalLine(g.topFrom, BUTTON_TOP, g.topTo + 1, 120, 120, 120, fb, 0);
    for (int x : {130, 263, 396, 529, 662, 799})
        DrawLine(x, BUTTON_TOP, x, BUTTON_BOTTOM, 120, 120, 120, fb, 0);

    if (page == BAR_TUNE)
        tuneBarState(works);
    if (page == BAR_MAIN)
        mainBarLabels(works);
    LblCOPY(works);
    LblRESET(works);
    LabelSAVEATU(works);
    ImpostaLblManuale(works);
    LabelByPassATU(works);
    LblMenuAntenna(works);

    // The labels are drawn from one copy of the bar, taken after the setters above.
    const ButtonBar bar = barLabels(page);
    if (VerifyError(works) == 1) {
        drawLabel(works, BUTTON_UPPER_FONT, buttonGeometry[0].upperX, BUTTON_UPPER_Y, "RESET");
        drawLabel(works, BUTTON_LOWER_FONT, buttonGeometry[0].lowerX, BUTTON_LOWER_Y, " Error ");
    } else {
        drawButtonLabels(works, bar, 1);
    }
    // The cursor keys of the edit bar are blank unless an address is edited, and ENTER is
    // blank on a read-only item.
    if (page != BAR_MENU_EDIT || menuItemIsAddress(works->menuIdx)) {
        drawButtonLabels(works, bar, 2);
        drawButtonLabels(works, bar, 3);
    }
    drawButtonLabels(works, bar, 4);
    drawButtonLabels(works, bar, 5);
    if (page != BAR_MENU || !menuItemReadOnly(works->menuIdx))
        drawButtonLabels(works, bar, 6);
    DrawParameters(works);
    DrawError(works);
    ViewStatusInfo(works, parameters);
    ViewStatusTX(works);
}

void SetWorkImg(Works* works)
{
    const bool large = works->ampModel == '1';
    const char* name = large ? "img1b" : "img1";
    switch (works->screenPage) {
    case 2:
        name = large ? "img3b" : "img3";
        break;
    case 4:
    case 5: {
        // The spectrum views: the whole span, or its middle half at twice the scale.
        const int zoom = works->screenPage == 5 ? 2 : 1;
        works->divX = 16 / zoom;
        works->spanHz = 160000 / zoom;
        works->xRangeEnd = 854 / zoom;
        name = "m5a";
        break;
    }
    default:
        break;
    }
    setBackground(works, name);
    if (works->interfaceMode != 1 && works->setup)
        setSetupSwitch(works->setup, &Orvosetup::enaser, '0');
}
