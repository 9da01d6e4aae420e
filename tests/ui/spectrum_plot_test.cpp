// The spectrum trace drawn from the transceiver's line into an in-memory panel: where a
// peak lands on the 160 kHz and 80 kHz views, and the scale moved by the reference position.
#include "core/works.h"
#include "display/framebuffer.h"
#include "ui/spectrum_plot.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace {

struct PlotFixture {
    PlotFixture()
    {
        works->fb = fb.get();
        works->spectrum = &spectrum;
        works->serMut = &serMut;
        works->screenPage = 4;
        std::fill(std::begin(spectrum.trace), std::end(spectrum.trace), -150.0f);
        InitGrid();
    }
    ~PlotFixture() { InitGrid(); }
    bool traceAt(int x, int y) const
    {
        const size_t o = (static_cast<size_t>(y) * 800 + static_cast<size_t>(x)) * 4;
        return fb->drawBuf[o + 2] == 250 && fb->drawBuf[o + 1] == 0 && fb->drawBuf[o] == 150;
    }
    // The topmost trace pixel in the column, -1 when none.
    int topOfColumn(int x) const
    {
        for (int y = 0; y < 480; ++y)
            if (traceAt(x, y))
                return y;
        return -1;
    }
    std::unique_ptr<FrameBuffer, void (*)(FrameBuffer*)> fb{fbCreateInMemory(800, 480, 4), fbDestroy};
    std::unique_ptr<Works> works = std::make_unique<Works>();
    SpectrumRecord spectrum;
    std::mutex serMut;
};

TEST(SpectrumPlot, PeaksLandOnTheirEntriesInBothSpansAndTheReferencePositionMovesTheScale)
{
    PlotFixture f;
    f.spectrum.trace[427] = -60.0f;  // the operating frequency
    f.spectrum.trace[700] = -30.0f;  // beyond the 80 kHz view
    DrawGrid(f.works.get());
    // 160 kHz: entry 427 at x = 70 + 427 / 854 * 688 = 414, -60 dB on row 145.
    EXPECT_EQ(145, f.topOfColumn(414));
    EXPECT_EQ(60 + 34, f.topOfColumn(70 + 700 * 688 / 854)) << "-30 dB: row 230 - 0.8 * 170";
    EXPECT_EQ(230, f.topOfColumn(100)) << "-150 dB sticks to the bottom line";

    // 80 kHz: entries 213..639 across the grid, so 427 is in the middle (x = 414) and 700
    // is not drawn.
    std::fill(f.fb->drawBuf, f.fb->drawBuf + f.fb->memSize, 0);
    f.works->divX = 8;
    f.works->xRangeEnd = 427;
    f.works->spanHz = 80000;
    DrawGrid(f.works.get());
    EXPECT_EQ(145, f.topOfColumn(414));
    for (int x = 71; x < 758; ++x)
        EXPECT_LE(135, f.topOfColumn(x) < 0 ? 1000 : f.topOfColumn(x)) << x;

    // Reference position 2: the scale runs -130..-30, -60 dB moves up to row 230 - 0.7 * 170.
    std::fill(f.fb->drawBuf, f.fb->drawBuf + f.fb->memSize, 0);
    RefPos = 2;
    DrawGrid(f.works.get());
    EXPECT_EQ(111, f.topOfColumn(414));

    // A page over the views: nothing drawn.
    std::fill(f.fb->drawBuf, f.fb->drawBuf + f.fb->memSize, 0);
    f.works->statusView = 1;
    DrawGrid(f.works.get());
    EXPECT_EQ(-1, f.topOfColumn(414));
}

} // namespace
