#include "plot.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace endurance {

namespace {

constexpr int WIDTH = 1200, PANEL = 150, LEFT = 90, RIGHT = 20, TOP = 10, BOTTOM = 40;

// A 3 x 5 font: five rows of three bits, the left pixel the highest bit.
struct Glyph {
    char c;
    uint16_t rows[5];
};
constexpr Glyph FONT[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'A', {2, 5, 7, 5, 5}}, {'B', {6, 5, 6, 5, 6}},
    {'C', {3, 4, 4, 4, 3}}, {'D', {6, 5, 5, 5, 6}}, {'E', {7, 4, 6, 4, 7}}, {'F', {7, 4, 6, 4, 4}},
    {'G', {3, 4, 5, 5, 3}}, {'H', {5, 5, 7, 5, 5}}, {'I', {7, 2, 2, 2, 7}}, {'J', {1, 1, 1, 5, 2}},
    {'K', {5, 5, 6, 5, 5}}, {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}}, {'N', {6, 5, 5, 5, 5}},
    {'O', {2, 5, 5, 5, 2}}, {'P', {6, 5, 6, 4, 4}}, {'Q', {2, 5, 5, 6, 3}}, {'R', {6, 5, 6, 5, 5}},
    {'S', {3, 4, 2, 1, 6}}, {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}}, {'V', {5, 5, 5, 5, 2}},
    {'W', {5, 5, 7, 7, 5}}, {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}}, {'Z', {7, 1, 2, 4, 7}},
    {'.', {0, 0, 0, 0, 2}}, {'-', {0, 0, 7, 0, 0}}, {'/', {1, 1, 2, 4, 4}}, {'%', {5, 1, 2, 4, 5}},
    {':', {0, 2, 0, 2, 0}}, {'(', {2, 4, 4, 4, 2}}, {')', {2, 1, 1, 1, 2}},
};

struct Image {
    int w, h;
    std::vector<uint8_t> rgb;
    void set(int x, int y, uint32_t colour)
    {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return;
        uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = colour >> 16;
        p[1] = (colour >> 8) & 0xff;
        p[2] = colour & 0xff;
    }
    void line(int x0, int y0, int x1, int y1, uint32_t colour)
    {
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        for (int err = dx + dy;;) {
            set(x0, y0, colour);
            if (x0 == x1 && y0 == y1)
                return;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
    // Text at scale 2, top-left corner at (x, y).
    void text(int x, int y, const std::string& s, uint32_t colour)
    {
        for (const char c : s) {
            for (const Glyph& g : FONT) {
                if (g.c != c)
                    continue;
                for (int r = 0; r < 5; ++r)
                    for (int b = 0; b < 3; ++b)
                        if (g.rows[r] & (4 >> b))
                            for (int k = 0; k < 4; ++k)
                                set(x + b * 2 + k % 2, y + r * 2 + k / 2, colour);
            }
            x += 8;
        }
    }
};

std::string number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, v >= 100 || v == std::floor(v) ? "%.0f" : "%.1f", v);
    return buf;
}

} // namespace

std::string writePlot(const std::string& path, const std::vector<Series>& panels, const std::vector<double>& kills,
                      double duration)
{
    if (duration <= 0)
        duration = 1;
    Image img{WIDTH, TOP + PANEL * static_cast<int>(panels.size()) + BOTTOM, {}};
    img.rgb.assign(static_cast<size_t>(img.w) * img.h * 3, 255);
    const int plotW = WIDTH - LEFT - RIGHT;
    auto xOf = [&](double t) { return LEFT + static_cast<int>(std::lround(std::clamp(t / duration, 0.0, 1.0) * plotW)); };
    const uint32_t colours[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd, 0xff7f0e, 0x8c564b};
    for (size_t p = 0; p < panels.size(); ++p) {
        const Series& s = panels[p];
        const int top = TOP + static_cast<int>(p) * PANEL + 24, bottom = TOP + static_cast<int>(p + 1) * PANEL - 8;
        double maxV = 0;
        for (const double v : s.value)
            maxV = std::max(maxV, v);
        maxV = maxV <= 0 ? 1 : maxV * 1.1;
        img.text(LEFT, top - 20, s.title, 0x000000);
        img.text(4, top, number(maxV), 0x555555);
        img.text(4, bottom - 10, "0", 0x555555);
        for (const double k : kills)
            img.line(xOf(k), top, xOf(k), bottom, 0xcccccc);
        img.line(LEFT, top, LEFT, bottom, 0x000000);
        img.line(LEFT, bottom, LEFT + plotW, bottom, 0x000000);
        auto yOf = [&](double v) { return bottom - static_cast<int>(std::lround(v / maxV * (bottom - top))); };
        for (size_t i = 1; i < s.t.size() && i < s.value.size(); ++i)
            img.line(xOf(s.t[i - 1]), yOf(s.value[i - 1]), xOf(s.t[i]), yOf(s.value[i]), colours[p % 6]);
    }
    const int axisY = TOP + PANEL * static_cast<int>(panels.size()) + 4;
    for (int i = 0; i <= 10; ++i) {
        const double t = duration * i / 10;
        img.text(xOf(t) - 8, axisY, number(t), 0x000000);
    }
    img.text(WIDTH / 2 - 150, axisY + 16, "SECONDS (GREY: CONTROLLER KILLED)", 0x000000);

    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return "cannot create " + path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        std::fclose(f);
        return "libpng failed writing " + path;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, img.w, img.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.h; ++y)
        png_write_row(png, &img.rgb[static_cast<size_t>(y) * img.w * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 ? "" : "cannot write " + path;
}

} // namespace endurance
