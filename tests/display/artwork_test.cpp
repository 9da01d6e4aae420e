// The screen pictures against the positions the program draws at. The meter needles
// are drawn over "img1", "img1b" and "img3" at zero, half and full scale (and SWR 1.5, 2
// and 3): each needle tip must land on its scale mark. The areas where labels, values, the
// read-out, the date line, the TX box, the status strip and the tiles are drawn must be
// plain. The composed frames are kept as PNG files under the build's test-output.
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/picture.h"
#include "display/snapshot.h"
#include "display/text.h"
#include "display_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

using namespace displaytest;

namespace {

#ifdef AMPCTL_BUILD_DIR
const std::string PICTURES = std::string(AMPCTL_BUILD_DIR) + "/pictures";
#else
const std::string PICTURES = "pictures";
#endif

// The screen loop's needle, exactly: angle, tip, three lines from the base.
double theta(double v, double n)
{
    return (0.24 - v * 0.48 / n) * 3.141692653;
}

struct Tip {
    int x, y;
};

Tip needleTip(int c, double th)
{
    return {static_cast<int>(c - 200 * std::sin(th) + 15 * std::cos(th + 1.5708463265)),
            static_cast<int>(260 - 200 * std::cos(th) + 15 * std::sin(th + 1.5708463265))};
}

void drawNeedle(FrameBuffer* fb, int c, double th, int r, int g, int b)
{
    const Tip t = needleTip(c, th);
    DrawLine(c - 1, 260, t.x, t.y, r, g, b, fb, 0);
    DrawLine(c, 260, t.x, t.y, r, g, b, fb, 0);
    DrawLine(c + 1, 260, t.x, t.y, r, g, b, fb, 0);
}

// CONV_SWR and its interpolation (CalcolaSWR).
double swrSteps(double swr)
{
    static const double val[12] = {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 100.0};
    static const double step[12] = {0, 11, 20, 30, 36, 40, 43, 45, 47, 48, 50, 60};
    if (swr < 1.0)
        return 0;
    if (swr >= 100)
        return 60;
    for (int i = 1; i < 12; ++i)
        if (val[i] > swr)
            return step[i - 1] + (step[i] - step[i - 1]) * (swr - val[i - 1]) / (val[i] - val[i - 1]);
    return 60;
}

struct Rgb {
    int r, g, b;
    double lum() const { return 0.299 * r + 0.587 * g + 0.114 * b; }
};

Rgb backPixel(FrameBuffer* fb, int x, int y)
{
    const unsigned char* p = pixelAt(fb, fb->backBuf, x, y);
    return {p[2], p[1], p[0]};
}

// Printed ink of a scale: black or the red of the SWR zone, never the cream face.
bool isInk(Rgb c)
{
    return c.lum() < 110;
}

class Artwork : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        TTFLoad(unmapped("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf").c_str(), 24, 0);
        TTFLoad(unmapped("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 22, 1);
        TTFLoad(unmapped("/usr/share/fonts/truetype/paratype/PTS75F.ttf").c_str(), 24, 4);
        TTFLoad(unmapped("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 14, 6);
        TTFLoad(unmapped("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 20, 8);
        TTFLoad(unmapped("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 30, 9);
        TTFLoad(unmapped("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 18, 10);
    }
    void SetUp() override
    {
        fb = fbCreateInMemory(800, 480, 4);
        works.fb = fb;
    }
    void TearDown() override { fbDestroy(fb); }

    void load(const std::string& name)
    {
        ASSERT_TRUE(std::filesystem::exists(PICTURES + "/" + name + ".png"))
            << "the pictures are built with the ampctl target";
        LogCapture log;
        ASSERT_EQ(loadPngInto(unmapped(PICTURES + "/" + name).c_str(), 0, 0, fb, 1), 0);
        EXPECT_TRUE(log.all().empty());
    }

    // The tip lands on printed ink, and the mark goes on outward beyond the tip (the
    // needle points into its mark, not just at the base line).
    void expectOnMark(const std::string& picture, int c, double v, double n, const std::string& what)
    {
        const double th = theta(v, n);
        const Tip t = needleTip(c, th);
        const double dx = t.x + 0.5 - (c + 0.5), dy = t.y + 0.5 - 260.5;
        const double len = std::hypot(dx, dy);
        const int ox = static_cast<int>(std::floor(t.x + 0.5 + 2.5 * dx / len));
        const int oy = static_cast<int>(std::floor(t.y + 0.5 + 2.5 * dy / len));
        EXPECT_TRUE(isInk(backPixel(fb, t.x, t.y)))
            << picture << " " << what << ": tip (" << t.x << ", " << t.y << ") lum " << backPixel(fb, t.x, t.y).lum();
        EXPECT_TRUE(isInk(backPixel(fb, ox, oy)))
            << picture << " " << what << ": beyond the tip (" << ox << ", " << oy << ")";
    }

    // Between two marks the tip sits on the plain face: the check above can tell them apart.
    void expectBetweenMarks(const std::string& picture, int c, double v, double n)
    {
        const Tip t = needleTip(c, theta(v, n));
        EXPECT_GT(backPixel(fb, t.x, t.y).lum(), 180) << picture << " value " << v << " of " << n;
    }

    // Every pixel of the rectangle (inclusive) is within [lo, hi] luminance and the
    // rectangle is nearly uniform: nothing printed there competes with what is drawn over.
    void expectPlain(const std::string& picture, const char* what, int x0, int y0, int x1, int y1, double lo, double hi)
    {
        double mn = 1e9, mx = -1e9;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double l = backPixel(fb, x, y).lum();
                mn = std::min(mn, l);
                mx = std::max(mx, l);
            }
        EXPECT_GE(mn, lo) << picture << ": " << what;
        EXPECT_LE(mx, hi) << picture << ": " << what;
        EXPECT_LT(mx - mn, 40) << picture << ": " << what << " is not plain";
    }

    // A frame as the screen loop composes it: labels, read-out, date line, needles, a status
    // strip and the button row, so the pictures can be judged with everything over them.
    void composeAndSave(const std::string& file, double left, double leftN, double right, double rightN,
                        const char* rightLabel, int rightLabelX, const char* value, const char* rightValue)
    {
        fbSetBack(fb);
        const char* date = "192.168.1.20 2024-05-01 14:03:27";
        putString(6, 780 - getStringSpace(6, date), 17, date, 255, 255, 255, fb, 0);
        putString(4, 339, 52, "14.070MHz", 0, 0, 0, fb, 0);
        putString(8, 155, 160, "FORWARD", 0, 0, 0, fb, 0);
        putString(8, 180, 180, value, 0, 0, 0, fb, 0);
        putString(8, rightLabelX, 160, rightLabel, 0, 0, 0, fb, 0);
        putString(8, 565, 180, rightValue, 0, 0, 0, fb, 0);
        drawNeedle(fb, 210, theta(left, leftN), 255, 0, 0);
        drawNeedle(fb, 590, theta(right, rightN), 255, 0, 0);
        const int boxes[][2] = {{1, 110}, {115, 260}, {265, 400}, {405, 520}, {525, 600}, {605, 710}, {715, 799}};
        const char* texts[] = {"KRPIXO", "  Coax:RTX", "Band:20m", "Att 0dB", "Ant 1", "Atu: On", "Local"};
        for (int i = 0; i < 7; ++i) {
            DrawRect(&works, boxes[i][0], 278, boxes[i][1], 303, 200, 200, 200);
            putString(8, boxes[i][0] + 10, 298, texts[i], 0, 200, 255, fb, 0);
        }
        DrawRect(&works, 1, 307, 400, 332, 100, 100, 100);
        putString(8, 10, 327, "PA1:035.2\xC2\xB0" "C   P2:034.8\xC2\xB0" "C    CPU:048.1\xC2\xB0" "C", 0, 200, 0, fb, 0);
        DrawRect(&works, 405, 307, 799, 332, 100, 100, 100);
        putString(8, 415, 327, "PA Voltage: 13.8V       Current: 04.2A", 0, 200, 0, fb, 0);
        const int bx[6][2] = {{0, 129}, {133, 262}, {266, 395}, {399, 528}, {532, 661}, {665, 798}};
        const char* up[6] = {" BANK", "ATT", " ANT", " TUNE", "MENU", " VIEW"};
        const char* low[6] = {"BANK1", "  0dB", "     1", "", "", "    1"};
        for (int i = 0; i < 6; ++i) {
            for (int y = 420; y < 480; ++y)
                DrawHorizontalLine(bx[i][0], y, bx[i][1] + 1, 40, 40, 40, fb, 0);
            DrawHorizontalLine(bx[i][0] + 1, 420, bx[i][1] + 1, 120, 120, 120, fb, 0);
            putString(0, bx[i][0] + 20, 445, up[i], 250, 150, 0, fb, 0);
            putString(1, bx[i][0] + 30, 472, low[i], 250, 150, 0, fb, 0);
        }
        for (int x : {130, 263, 396, 529, 662, 799})
            DrawLine(x, 420, x, 479, 120, 120, 120, fb, 0);
        DrawHorizontalLine(2, 478, 128, 250, 150, 0, fb, 0);
        DrawHorizontalLine(2, 479, 128, 250, 150, 0, fb, 0);
        DrawHorizontalLine(667, 478, 797, 250, 150, 0, fb, 0);
        DrawHorizontalLine(667, 479, 797, 250, 150, 0, fb, 0);
        fbRealize(fb);
        ASSERT_EQ(writeFrameBufferPng(fb, (outputDir("needles") + "/" + file + ".png").c_str()), 0);
    }

    // Right end of the widest frequency read-out (DrawFreq: slot 4 from x 339).
    int readOutEnd()
    {
        int w = 0;
        for (const char* s : {"54.000MHz", "99.999MHz", "999.999kHz"})
            w = std::max(w, getStringSpace(4, s));
        return 339 + w + 1;
    }

    void checkMeterAreas(const std::string& picture)
    {
        expectPlain(picture, "left label and value", 150, 140, 265, 186, 200, 255);
        expectPlain(picture, "right label and value", 530, 140, 670, 186, 200, 255);
        expectPlain(picture, "frequency read-out", 337, 33, readOutEnd(), 53, 180, 255);
        expectPlain(picture, "date line", 540, 3, 790, 21, 0, 60);
        expectPlain(picture, "TX indicator", 375, 175, 429, 209, 200, 255);
        expectPlain(picture, "status strip", 0, 276, 799, 334, 0, 60);
        expectPlain(picture, "message line and fault tiles", 0, 338, 799, 418, 0, 60);
    }

    FrameBuffer* fb = nullptr;
    Works works;
};

} // namespace

TEST_F(Artwork, AllNinePicturesLoad)
{
    for (const char* name : {"start", "start120", "status", "statusB", "img1", "img1b", "img3", "img3b", "m5a"})
        load(name);
}

TEST_F(Artwork, Img1NeedlesLandOnTheirMarks)
{
    load("img1");
    for (double v : {0.0, 30.0, 60.0}) {
        expectOnMark("img1", 210, v, 60, "forward " + std::to_string(v));
        expectOnMark("img1", 590, v, 60, "reflected " + std::to_string(v));
    }
    for (double v : {10.0, 20.0, 40.0, 50.0, 5.0, 1.0, 59.0})
        expectOnMark("img1", 210, v, 60, "forward " + std::to_string(v));
    for (double v : {0.5, 30.5, 59.5}) {
        expectBetweenMarks("img1", 210, v, 60);
        expectBetweenMarks("img1", 590, v, 60);
    }
    checkMeterAreas("img1");
    composeAndSave("img1_zero", 0, 60, 0, 60, "REFLECTED", 535, "00.0W", "00.0W");
    composeAndSave("img1_half", 30, 60, 30, 60, "REFLECTED", 535, "30.0W", "30.0W");
    composeAndSave("img1_full", 60, 60, 60, 60, "PRWIN", 560, "60.0W", "60.0W");
}

TEST_F(Artwork, Img1bForwardScaleIs120W)
{
    load("img1b");
    for (double v : {0.0, 60.0, 120.0})
        expectOnMark("img1b", 210, v, 120, "forward " + std::to_string(v));
    for (double v : {20.0, 40.0, 80.0, 100.0, 2.0, 10.0})
        expectOnMark("img1b", 210, v, 120, "forward " + std::to_string(v));
    for (double v : {0.0, 30.0, 60.0})
        expectOnMark("img1b", 590, v, 60, "reflected " + std::to_string(v));
    for (double v : {1.0, 61.0, 119.0})
        expectBetweenMarks("img1b", 210, v, 120);
    checkMeterAreas("img1b");
    composeAndSave("img1b_zero", 0, 120, 0, 60, "REFLECTED", 535, "00.0W", "00.0W");
    composeAndSave("img1b_half", 60, 120, 30, 60, "REFLECTED", 535, "60.0W", "30.0W");
    composeAndSave("img1b_full", 120, 120, 60, 60, "REFLECTED", 535, "120.0W", "60.0W");
}

TEST_F(Artwork, Img3SwrScaleFollowsConvSwr)
{
    load("img3");
    for (double v : {0.0, 30.0, 60.0})
        expectOnMark("img3", 210, v, 60, "forward " + std::to_string(v));
    for (double swr : {1.0, 1.5, 2.0, 3.0, 5.0, 10.0, 100.0})
        expectOnMark("img3", 590, swrSteps(swr), 60, "SWR " + std::to_string(swr));
    for (double swr : {1.25, 1.75, 2.25, 7.5})
        expectBetweenMarks("img3", 590, swrSteps(swr), 60);
    checkMeterAreas("img3");
    composeAndSave("img3_swr1.5", 30, 60, swrSteps(1.5), 60, "SWR", 570, "30.0W", "1.5");
    composeAndSave("img3_swr2", 45, 60, swrSteps(2.0), 60, "SWR", 570, "45.0W", "2.0");
    composeAndSave("img3_swr3", 60, 60, swrSteps(3.0), 60, "SWR", 570, "60.0W", "3.0");
}

TEST_F(Artwork, Img3bCombinesBothScales)
{
    load("img3b");
    for (double v : {0.0, 60.0, 120.0})
        expectOnMark("img3b", 210, v, 120, "forward " + std::to_string(v));
    for (double swr : {1.0, 1.5, 2.0, 3.0, 5.0, 10.0, 100.0})
        expectOnMark("img3b", 590, swrSteps(swr), 60, "SWR " + std::to_string(swr));
    checkMeterAreas("img3b");
}

TEST_F(Artwork, SpectrumScreenFramesTheGrid)
{
    load("m5a");
    expectPlain("m5a", "grid", 70, 60, 758, 230, 0, 40);
    expectPlain("m5a", "dB labels", 25, 28, 66, 236, 0, 60);
    expectPlain("m5a", "kHz labels", 40, 236, 790, 246, 0, 60);
    expectPlain("m5a", "read-out", 337, 33, readOutEnd(), 53, 0, 60);
    expectPlain("m5a", "status strip", 0, 276, 799, 334, 0, 60);

    // The spectrum plot with its defaults over the picture, kept for looking at.
    fbSetBack(fb);
    putString(8, 35, 43, "dBm", 180, 180, 180, fb, 0);
    for (int i = 0; i <= 10; ++i) {
        DrawHorizontalLine(70, 17 * i + 60, 758, 120, 120, 120, fb, 0);
        char label[16];
        std::snprintf(label, sizeof label, "%d", -10 - 10 * i);
        putString(6, 35, 17 * i + 60, label, 180, 180, 180, fb, 0);
    }
    for (int i = 0; i <= 16; ++i) {
        const int x = 43 * i + 70;
        DrawLine(x, 60, x, 230, 120, 120, 120, fb, 0);
        const int m = 10 * i - 80;
        char label[16];
        std::snprintf(label, sizeof label, m > 0 ? "+%d" : "%d", m);
        putString(6, m == 0 ? x : x - 10, 243, label, 180, 180, 180, fb, 0);
    }
    auto level = [](int i) {
        const double noise = -112 + 4 * std::sin(i * 1.7) + 3 * std::sin(i * 0.37 + 1) + 2 * std::sin(i * 5.1);
        const double a = 60 * std::exp(-std::pow((i - 427) / 3.0, 2)) + 35 * std::exp(-std::pow((i - 250) / 4.0, 2)) +
                         25 * std::exp(-std::pow((i - 610) / 10.0, 2));
        return noise + a;
    };
    auto point = [&](int i) {
        const double y = std::clamp(230 - (level(i) + 110) / 100.0 * 170, 60.0, 230.0);
        return std::pair<int, int>(static_cast<int>(70 + i / 854.0 * 688), static_cast<int>(y));
    };
    for (int i = 0; i <= 852; ++i) {
        const auto a = point(i), b = point(i + 1);
        DrawLine(a.first, a.second, b.first, b.second, 250, 0, 150, fb, 0);
    }
    putString(4, 339, 52, "14.070MHz", 250, 150, 0, fb, 0);
    fbRealize(fb);
    ASSERT_EQ(writeFrameBufferPng(fb, (outputDir("screens") + "/m5a_plot.png").c_str()), 0);
}

TEST_F(Artwork, PagesLeaveTheirTextAreasPlain)
{
    load("start");
    expectPlain("start", "messages", 100, 275, 799, 410, 0, 60);
    fbSetBack(fb);
    putString(9, 300, 400, "Loading ... 7", 255, 255, 255, fb, 0);
    putString(9, 130, 300, "Error! CAT port /dev/ttyUSB1 not found", 255, 255, 255, fb, 0);
    fbRealize(fb);
    ASSERT_EQ(writeFrameBufferPng(fb, (outputDir("screens") + "/start_messages.png").c_str()), 0);
    load("start120");
    expectPlain("start120", "messages", 100, 275, 799, 410, 0, 60);

    load("statusB");
    expectPlain("statusB", "title", 90, 28, 700, 58, 0, 60);
    fbSetBack(fb);
    putString(0, 100, 50, " Memory Table Bank 1 - Interface: KRPIXO", 250, 150, 0, fb, 0);
    putString(8, 50, 100, "N     Band     Pwr    Att(dB)  AmpEnable    Ant       Atu", 250, 250, 250, fb, 0);
    const char* bands[] = {"160m", "80m", "60m", "40m", "30m", "20m", "17m", "15m", "12m", "10m", "6m"};
    for (int row = 0; row < 11; ++row) {
        const int y = 22 * row + 130;
        const int r = 250, g = row == 3 ? 150 : 250, b = row == 3 ? 0 : 250; // row 4 selected
        char text[16];
        std::snprintf(text, sizeof text, "%i", row + 1);
        putString(8, 50, y, text, r, g, b, fb, 0);
        putString(8, 90, y, bands[row], r, g, b, fb, 0);
        putString(8, 170, y, "60.0", r, g, b, fb, 0);
        putString(8, 250, y, "0", r, g, b, fb, 0);
        putString(8, 350, y, "On", r, g, b, fb, 0);
        putString(8, 470, y, "1", r, g, b, fb, 0);
        putString(8, 540, y, "On", r, g, b, fb, 0);
    }
    fbRealize(fb);
    ASSERT_EQ(writeFrameBufferPng(fb, (outputDir("screens") + "/statusB_table.png").c_str()), 0);

    load("status");
    expectPlain("status", "date", 290, 380, 799, 405, 0, 60);
    fbSetBack(fb);
    const char* titles[] = {"VERSION", "SN", "POWER", "FREQUENCY", "TEMPERATURE", "", "", "LAN", "", "STATUS", "", "AMPL"};
    const char* values[] = {"SW ver. 0.060, FW ver. 1.07", "0123 (4567), TYPE: EU, MAXPOWER: 60W",
                            "FWD:45.0, RFL:00.9 , PW:02.1, SWR:01.3", "14070000Hz(14070000)",
                            "Current:04.2A (1224.0), Tbrd:35.20\xC2\xB0" "C, Thsk:34.80\xC2\xB0" "C",
                            "CPU:48.1\xC2\xB0" "C, GPU:47.6\xC2\xB0" "C", "Set Point Alarm 65.00\xC2\xB0" "C, FAN: 40%",
                            "IP:192.168.1.20, NetMask:255.255.255.0 ", "Gateway:192.168.1.1, DNS:192.168.1.1 ",
                            "State 0x00 0x01,ES:0,ER:0", "EXT IO connected", "ver. 3, V12: 12.1V, V15: 15.0V, Vamp: 13.8V"};
    for (int k = 0; k < 12; ++k) {
        putString(8, 5, 110 + 22 * k, titles[k], 255, 255, 255, fb, 0);
        putString(8, 180, 110 + 22 * k, values[k], 255, 255, 255, fb, 0);
    }
    putString(8, 300, 400, "2024-05-01 14:03:27", 255, 255, 255, fb, 0);
    fbRealize(fb);
    ASSERT_EQ(writeFrameBufferPng(fb, (outputDir("screens") + "/status_page.png").c_str()), 0);
}
