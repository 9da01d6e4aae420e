#pragma once
// The simulated panel (a framebuffer file) compared, over a rectangle, with a reference
// screen that the test paints into an in-memory panel with the program's own drawing
// functions and the unit's fonts.
#include "display/framebuffer.h"
#include "display/picture.h"
#include "support/files.h"
#include "ui/layout.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

// The panel's fonts, from the fonts of a simulated root (loaded once per test program).
inline void loadPanelFontsOnce(const std::string& root)
{
    static bool loaded = false;
    if (loaded)
        return;
    setenv("AMPCTL_ROOT", root.c_str(), 1);
    loadPanelFonts();
    unsetenv("AMPCTL_ROOT");
    loaded = true;
}

// A screen picture of the build (its name without ".png") as the background of a reference
// screen.
inline void drawScreenPicture(FrameBuffer* fb, const char* picture)
{
    const std::string path = std::string(AMPCTL_BUILD_DIR "/pictures/") + picture;
    loadPngInto(path.c_str(), 0, 0, fb, 1);
    fbSetBack(fb);
}

// Waits until the panel's rectangle x0..x1, y0..y1 (inclusive) matches the reference
// screen that `draw` paints.
inline bool waitForPanelMatch(const std::string& framebuffer, const std::string& root,
                              const std::function<void(FrameBuffer*)>& draw, int x0, int y0, int x1, int y1,
                              double seconds)
{
    loadPanelFontsOnce(root);
    std::unique_ptr<FrameBuffer, void (*)(FrameBuffer*)> ref(fbCreateInMemory(800, 480, 4), fbDestroy);
    draw(ref.get());
    for (double waited = 0; waited < seconds; waited += 0.1) {
        const std::string fb = readFile(framebuffer);
        bool same = fb.size() >= ref->memSize;
        for (int y = y0; y <= y1 && same; ++y) {
            const size_t o = (static_cast<size_t>(y) * 800 + static_cast<size_t>(x0)) * 4;
            for (size_t i = 0; i < static_cast<size_t>(x1 - x0 + 1) * 4 && same; ++i)
                same = (i % 4 == 3) || static_cast<unsigned char>(fb[o + i]) == ref->drawBuf[o + i];
        }
        if (same)
            return true;
        usleep(100000);
    }
    return false;
}
