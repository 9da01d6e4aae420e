// The screen loop's frames restore and present only the rows that changed: a frame with
// nothing new copies no row to the panel, a needle that moves copies only the rows it
// covers, and the panel ends up exactly as a frame drawn whole would leave it.
#include "screen_support.h"
#include "ui/meters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace screentest;

namespace {

// The panel rows whose bytes differ between two copies of the screen.
std::vector<int> changedRows(const std::vector<unsigned char>& a, const unsigned char* b, const FrameBuffer* fb)
{
    std::vector<int> rows;
    for (int y = 0; y < fb->sizeY; ++y) {
        const size_t o = static_cast<size_t>(y) * fb->lineSize;
        if (std::memcmp(a.data() + o, b + o, fb->lineSize) != 0)
            rows.push_back(y);
    }
    return rows;
}

TEST(FrameRows, UnchangedFrameCopiesNothingAndANeedleOnlyTheRowsItCovers)
{
    ScreenRecord works;
    FrameBuffer* fb = works.fb();
    works->screenPage = 1;
    works->enablePwrPeak = 0;
    works->pwrFwd = 0;
    setBackground(works.get(), "img1");
    auto frame = [&] {
        startFrame(works.get());
        DrawMeters(works.get());
        fbRealize(fb);
    };
    frame();
    frame();
    const uint64_t settled = fb->rowsPresented;
    frame();
    EXPECT_EQ(settled, fb->rowsPresented) << "a frame with nothing new copies nothing";

    const std::vector<unsigned char> shown(fb->screenMem, fb->screenMem + fb->memSize);
    works->pwrFwd = 30;
    frame();
    const std::vector<int> rows = changedRows(shown, fb->screenMem, fb);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.size(), fb->rowsPresented - settled) << "only rows that changed are copied";
    // The needle's rows, from the higher of the two tips down to its base at y 260.
    const int top = std::min(needleTip(METER_LEFT_X, needleAngle(0, 60)).y, needleTip(METER_LEFT_X, needleAngle(30, 60)).y);
    EXPECT_GE(rows.front(), top - 1);
    EXPECT_LE(rows.back(), 261);

    // The same frame drawn whole, from the whole background.
    fbSetBack(fb);
    DrawMeters(works.get());
    EXPECT_EQ(0, std::memcmp(fb->drawBuf, fb->screenMem, fb->memSize)) << "the panel is the whole frame";

    // A picture loaded into the background between frames reaches the panel.
    works->screenPage = 2;
    setBackground(works.get(), "img3");
    frame();
    fbSetBack(fb);
    DrawMeters(works.get());
    EXPECT_EQ(0, std::memcmp(fb->drawBuf, fb->screenMem, fb->memSize)) << "the new background is shown";
    saveScreen(fb, "frame_rows_swr");
}

} // namespace
