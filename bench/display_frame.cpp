// One typical meter frame of the screen loop: fbSetBack, about 30 strings in
// three fonts, six needles of three lines each, fbRealize; with and without the glyph
// cache, and the two bulk copies alone (the floor of any frame). And the screen loop's own
// drawing of the first view: the button bar with two fault tiles, both meters with peak
// needles, the read-outs.
//
//   display_frame [--benchmark_...]
//
// Fonts are Debian's DejaVu Sans and PT Sans, as on the unit.
#include "amplifier/errors.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "ui/meters.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

FrameBuffer* frameBuffer()
{
    static FrameBuffer* fb = [] {
        FrameBuffer* f = fbCreateInMemory(800, 480, 4);
        for (unsigned int i = 0; i < f->memSize; ++i)
            f->backBuf[i] = static_cast<unsigned char>(i * 31 >> 3);
        // Relative paths: the root mapping leaves them alone.
        auto rel = [](const char* p) { return std::filesystem::relative(p).string(); };
        TTFLoad(rel("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf").c_str(), 24, 0);
        TTFLoad(rel("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 22, 1);
        TTFLoad(rel("/usr/share/fonts/truetype/paratype/PTS75F.ttf").c_str(), 24, 4);
        TTFLoad(rel("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 20, 8);
        return f;
    }();
    return fb;
}

void needle(FrameBuffer* fb, int c, double v, double n, int r, int g, int b)
{
    drawNeedle(fb, c, needleAngle(static_cast<float>(v), static_cast<int>(n)), r, g, b);
}

// 30 strings: 12 button labels (slots 0 and 1), 14 status texts and labels (slot 8),
// the frequency read-out and three more values (slot 4 / 8).
void frame(FrameBuffer* fb, int k)
{
    fbSetBack(fb);
    static const char* up[6] = {" BANK", "ATT", " ANT", " TUNE", "MENU", " VIEW"};
    static const char* low[6] = {"BANK1", "  0dB", "     1", "    Off", "  Setup", "    1"};
    const int bx[6] = {0, 133, 266, 399, 532, 665};
    for (int i = 0; i < 6; ++i) {
        putString(0, bx[i] + 20, 445, up[i], 250, 150, 0, fb, 0);
        putString(1, bx[i] + 30, 472, low[i], 250, 150, 0, fb, 0);
    }
    char value[32];
    std::snprintf(value, sizeof value, "%02.01fW", 30.0 + k % 10);
    putString(8, 155, 160, "FORWARD", 0, 0, 0, fb, 0);
    putString(8, 180, 180, value, 0, 0, 0, fb, 0);
    putString(8, 535, 160, "REFLECTED", 0, 0, 0, fb, 0);
    putString(8, 565, 180, "01.2W", 0, 0, 0, fb, 0);
    putString(4, 339, 52, "14.070MHz", 0, 0, 0, fb, 0);
    static const char* strip[7] = {"KRPIXO", "  Coax:RTX", "Band:20m", "Att 0dB", "Ant 1", "Atu: On", "Local"};
    const int sx[7] = {10, 125, 275, 415, 535, 615, 725};
    for (int i = 0; i < 7; ++i)
        putString(8, sx[i], 298, strip[i], 0, 200, 255, fb, 0);
    putString(8, 10, 327, "PA1:035.2\xC2\xB0" "C   P2:034.8\xC2\xB0" "C    CPU:048.1\xC2\xB0" "C", 0, 200, 0, fb, 0);
    putString(8, 415, 327, "PA Voltage: 13.8V       Current: 04.2A", 0, 200, 0, fb, 0);
    putString(8, 560, 17, "192.168.1.20 2024-05-01 14:03:27", 255, 255, 255, fb, 0);
    putString(8, 5, 350, "Entering second function...", 250, 250, 250, fb, 0);
    putString(8, 390, 200, "TX", 255, 255, 255, fb, 0);
    putString(8, 20, 390, "Auto Tune", 250, 250, 250, fb, 0);
    putString(8, 20, 410, "IXO aborts", 250, 250, 250, fb, 0);
    // 30 strings so far: 12 + 5 + 7 + 6.
    needle(fb, 210, 30 + k % 10, 60, 255, 0, 0);
    needle(fb, 210, 45, 60, 0, 0, 0);
    needle(fb, 590, 1.2, 60, 255, 0, 0);
    needle(fb, 590, 3, 60, 0, 0, 0);
    needle(fb, 210, 12, 60, 255, 0, 0);
    needle(fb, 590, 50, 60, 0, 0, 0);
    fbRealize(fb);
}

void BM_BulkCopiesOnly(benchmark::State& state)
{
    FrameBuffer* fb = frameBuffer();
    for (auto _ : state) {
        fbSetBack(fb);
        fbRealize(fb);
        benchmark::DoNotOptimize(fb->screenMem[12345]);
        benchmark::ClobberMemory();
    }
}

void BM_FrameWithGlyphCache(benchmark::State& state)
{
    FrameBuffer* fb = frameBuffer();
    textSetGlyphCache(true);
    frame(fb, 0); // fill the cache
    int k = 0;
    for (auto _ : state) {
        frame(fb, k++);
        benchmark::ClobberMemory();
    }
}

void BM_FrameWithoutGlyphCache(benchmark::State& state)
{
    FrameBuffer* fb = frameBuffer();
    textSetGlyphCache(false);
    int k = 0;
    for (auto _ : state) {
        frame(fb, k++);
        benchmark::ClobberMemory();
    }
    textSetGlyphCache(true);
}

void BM_MainViewDrawing(benchmark::State& state)
{
    FrameBuffer* fb = frameBuffer();
    TTFLoad(std::filesystem::relative("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").c_str(), 18, 10);
    textSetGlyphCache(true);
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    works->fb = fb;
    works->enablePwrPeak = 1;
    works->frequency = 14070000;
    works->pwrRefl = 1.2f;
    works->pwrPeak = 45;
    InitErrorTable(works.get());
    enableErrorList(works.get());
    AddErrore(works.get(), 4);
    AddErrore(works.get(), 14);
    InitMenuOrvo(works.get());
    int k = 0;
    for (auto _ : state) {
        works->pwrFwd = static_cast<float>(30 + k++ % 10);
        fbSetBack(fb);
        LoadButtons(works.get(), SerParam{});
        DrawMeters(works.get());
        fbRealize(fb);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_BulkCopiesOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithGlyphCache)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithoutGlyphCache)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MainViewDrawing)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
