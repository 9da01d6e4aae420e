#include "ui/spectrum_plot.h"

#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <mutex>

Relaxed<int> RefLevel = -110;
Relaxed<int> RefPos = 0;
Relaxed<int> PointDiv = 10;

namespace {

constexpr int SchermoWidth = 800;
constexpr int SchermoHeight = 280;
constexpr int borderLeft = 70;
constexpr int borderRight = 40;
constexpr int borderTop = 60;
constexpr int borderBottom = 50;
constexpr int divY = 10;
constexpr int xRangeStart = 0;

// Grid geometry for the current number of divisions across; the screen loop alone draws.
struct Grid {
    int divX = 16;
    int xRangeEnd = 854;
    int r_x = 0;
    int r_y = 0;
    int bound_left = 0;
    int bound_right = 0;
    int b_top = 0;
    int b_bottom = 0;
};
Grid grid;

void computeGrid(int divX, int xRangeEnd)
{
    grid.divX = divX > 0 ? divX : 16;
    grid.xRangeEnd = xRangeEnd > xRangeStart + 1 ? xRangeEnd : 854;
    grid.r_x = (SchermoWidth - borderLeft - borderRight) / grid.divX;
    grid.r_y = (SchermoHeight - borderTop - borderBottom) / divY;
    grid.bound_left = borderLeft;
    grid.bound_right = grid.r_x * grid.divX + grid.bound_left;
    grid.b_top = borderTop;
    grid.b_bottom = grid.r_y * divY + grid.b_top;
}

constexpr int SCALE_GREY = 180;

} // namespace

void InitGrid()
{
    RefLevel = -110;
    RefPos = 0;
    PointDiv = 10;
    computeGrid(16, 854);
}

PlotPoint CalculatePoint(float low, float high, int index, float value)
{
    const double x = grid.bound_left + static_cast<double>(index - xRangeStart) / (grid.xRangeEnd - xRangeStart) *
                                           (grid.bound_right - borderLeft);
    double y = grid.b_bottom - (static_cast<double>(value) - low) / (high - low) * (grid.b_bottom - borderTop);
    y = std::clamp(y, static_cast<double>(borderTop), static_cast<double>(grid.b_bottom));
    return {static_cast<float>(x), static_cast<float>(y)};
}

void DrawGrid(Works* works)
{
    if (works->statusView != 0)
        return;
    computeGrid(works->divX, works->xRangeEnd);
    FrameBuffer* fb = works->fb;
    const int step = PointDiv;
    const int low = RefLevel - RefPos * step;
    const int high = divY * step + low;
    putString(8, grid.bound_left - 35, grid.b_top - grid.r_y, "dBm", SCALE_GREY, SCALE_GREY, SCALE_GREY, fb, 0);
    char text[16];
    for (int i = 0; i <= divY; ++i) {
        const int y = grid.r_y * i + grid.b_top;
        DrawHorizontalLine(grid.bound_left, y, grid.bound_right, 120, 120, 120, fb, 0);
        snprintf(text, sizeof text, "%d", high - step * i);
        putString(6, grid.bound_left - 35, y, text, SCALE_GREY, SCALE_GREY, SCALE_GREY, fb, 0);
    }
    for (int i = 0; i <= grid.divX; ++i) {
        const int x = grid.r_x * i + grid.bound_left;
        DrawLine(x, grid.b_top, x, grid.b_bottom, 120, 120, 120, fb, 0);
        const int m = 10 * i - works->spanHz / 2000;
        snprintf(text, sizeof text, m > 0 ? "+%d" : "%d", m);
        putString(6, m == 0 ? x : x - 10, grid.b_bottom + 13, text, SCALE_GREY, SCALE_GREY, SCALE_GREY, fb, 0);
    }
    if (works->spectrum && works->serMut) {
        // A copy of the line taken under the writer's lock, so the trace is one whole line.
        std::array<float, 1024> values;
        {
            std::lock_guard<std::mutex> lock(*works->serMut);
            std::copy(std::begin(works->spectrum->trace), std::end(works->spectrum->trace), values.begin());
        }
        // The 80 kHz view shows the middle half of the line, around the operating frequency.
        const size_t first = grid.divX == 16 ? 0 : 213;
        const float offset = static_cast<float>(works->offsetPlot);
        for (int i = 0; i + 1 < grid.xRangeEnd && first + static_cast<size_t>(i) + 1 < values.size(); ++i) {
            const size_t at = first + static_cast<size_t>(i);
            const PlotPoint a = CalculatePoint(static_cast<float>(low), static_cast<float>(high), i, values[at] + offset);
            const PlotPoint b =
                CalculatePoint(static_cast<float>(low), static_cast<float>(high), i + 1, values[at + 1] + offset);
            DrawLine(static_cast<int>(a.x), static_cast<int>(a.y), static_cast<int>(b.x), static_cast<int>(b.y), 250,
                     0, 150, fb, 0);
        }
    }
    DrawFreq(works);
}

void formatFrequency(char* out, unsigned long size, float hertz)
{
    if (hertz < 1000.0f)
        snprintf(out, size, "%.00fHz", static_cast<double>(hertz));
    else if (hertz < 1000000.0f)
        snprintf(out, size, "%.03fkHz", static_cast<double>(hertz) / 1000.0);
    else
        snprintf(out, size, "%.03fMHz", static_cast<double>(hertz) / 1000000.0);
}

void DrawFreq(Works* works)
{
    const float f = static_cast<float>(works->frequency);
    if (f <= 0)
        return;
    if (grid.r_x == 0)
        computeGrid(16, 854);
    char text[32];
    formatFrequency(text, sizeof text, f);
    const int x = (grid.bound_right - grid.bound_left) / 2 + grid.bound_left - 75;
    const int y = grid.b_top - grid.r_y / 2;
    if (works->screenPage > 3)
        putString(4, x, y, text, 250, 150, 0, works->fb, 0);
    else
        putString(4, x, y, text, 0, 0, 0, works->fb, 0);
}
