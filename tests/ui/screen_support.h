#pragma once
// Helpers of the screen tests: a works record drawing into an in-memory panel with the
// unit's fonts and pictures, pixel access, and the screens saved as PNG for looking at.
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/snapshot.h"
#include "display/text.h"
#include "support/sim_root.h"
#include "ui/layout.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace screentest {

using Rgb = std::array<int, 3>;

struct FbDeleter {
    void operator()(FrameBuffer* fb) const { fbDestroy(fb); }
};

// A works record with its defaults and an 800 x 480 panel in memory, in a simulated root
// (its fonts, and its stand-ins for every settings write); the working directory is the
// pictures directory while it lives (pictures are loaded by name).
class ScreenRecord {
public:
    ScreenRecord() : root_("screen"), fb_(fbCreateInMemory(800, 480, 4)), works_(std::make_unique<Works>())
    {
        oldDir_ = std::filesystem::current_path();
        std::filesystem::current_path(AMPCTL_BUILD_DIR "/pictures");
        works_->setup = setup_.get();
        works_->serPar = &parameters_;
        works_->serMut = &parametersMutex_;
        initSetup(works_.get());
        setup_->enaser = '0';
        setup_->enaCatSer = '0';
        // Nothing here runs threads; a thread a key might start ends at once.
        works_->running = 0;
        works_->fb = fb_.get();
        loadPanelFonts();
    }
    ~ScreenRecord()
    {
        // The status page starts the transceiver link when it is off; it ends at once
        // (running is 0) and is joined before the record goes.
        joinThread(thrSer);
        std::filesystem::current_path(oldDir_);
    }
    Works* operator->() { return works_.get(); }
    Works* get() { return works_.get(); }
    FrameBuffer* fb() { return fb_.get(); }

    const TestRoot& root() const { return root_; }

private:
    TestRoot root_;
    std::unique_ptr<FrameBuffer, FbDeleter> fb_;
    std::unique_ptr<Works> works_;
    std::unique_ptr<Orvosetup> setup_ = std::make_unique<Orvosetup>();
    SerParam parameters_;
    std::mutex parametersMutex_;
    std::filesystem::path oldDir_;
};

inline Rgb pixel(const FrameBuffer* fb, int x, int y, bool drawBuffer = true)
{
    const unsigned char* base = drawBuffer ? fb->drawBuf : fb->screenMem;
    const unsigned char* p = base + static_cast<size_t>(y) * fb->lineSize + static_cast<size_t>(x) * fb->pixelSize;
    return {p[2], p[1], p[0]};
}

// The label area of one button (rows between the top line and the underline) compared
// with the same button drawn alone with the given labels.
inline void expectButtonShows(FrameBuffer* fb, int button, const char* upper, const char* lower)
{
    std::unique_ptr<FrameBuffer, FbDeleter> ref(fbCreateInMemory(800, 480, 4));
    const ButtonGeometry& g = buttonGeometry[button - 1];
    for (int y = BUTTON_TOP; y <= BUTTON_BOTTOM; ++y)
        DrawHorizontalLine(g.fillFrom, y, g.fillTo + 1, 40, 40, 40, ref.get(), 0);
    putString(BUTTON_UPPER_FONT, g.upperX, BUTTON_UPPER_Y, upper, 250, 150, 0, ref.get(), 0);
    putString(BUTTON_LOWER_FONT, g.lowerX, BUTTON_LOWER_Y, lower, 250, 150, 0, ref.get(), 0);
    int differing = 0;
    for (int y = BUTTON_TOP + 1; y < 478; ++y)
        for (int x = g.fillFrom; x <= g.fillTo; ++x)
            differing += pixel(fb, x, y) != pixel(ref.get(), x, y);
    EXPECT_EQ(0, differing) << "button " << button << " does not read \"" << upper << "\" / \"" << lower << "\"";
}

// Saves the working buffer under <build>/test-output/screens/<name>.png.
inline void saveScreen(const FrameBuffer* fb, const std::string& name)
{
    const std::filesystem::path dir = std::filesystem::path(AMPCTL_BUILD_DIR) / "test-output" / "screens";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / (name + ".png")).string();
    EXPECT_EQ(0, writeScreenPng(fb->drawBuf, fb->sizeX, fb->sizeY, fb->lineSize, fb->pixelSize, path.c_str()))
        << path;
}

} // namespace screentest
