#pragma once
// The real ampctl on a simulated unit for the screen tests: the physical board (a dipole
// behind the tuner), its control lines, and the panel file read back pixel by pixel.
#include "board_physics.h"
#include "control.h"
#include "controller_process.h"
#include "display/framebuffer.h"
#include "display/picture.h"
#include "display/text.h"
#include "sim_unit.h"
#include "support/files.h"
#include "support/panel_match.h"
#include "support/screenshot.h"
#include "tuning_session.h"
#include "ui/layout.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace uitest {

using Rgb = std::array<int, 3>;

// The simulated unit with the physical board and the controller started on it (after
// `prepare` has written into the root); the controller is stopped in order at the end.
class Station {
public:
    explicit Station(const std::string& name, const std::function<void(const std::string& root)>& prepare = {})
        : unit_(freshTempDir(name))
    {
        physics_.setReflection(sim::loadThroughTuner(sim::resonantDipole()));
        unit_.board().state().setPhysics(physics_.hook());
        if (prepare)
            prepare(unit_.root());
        ctl_ = std::make_unique<sim::ControllerProcess>(AMPCTL_BIN, unit_.root(), AMPCTL_BUILD_DIR "/pictures");
    }
    ~Station()
    {
        ctl_->terminate();
        ctl_->waitExit(30);
        unit_.board().state().setPhysics({});
        unit_.stop();
        std::filesystem::remove_all(unit_.root());
    }
    // Stops the controller in order and starts it again on the same root (a restart of the
    // unit with its settings kept).
    void restart()
    {
        ctl_->terminate();
        ctl_->waitExit(30);
        ctl_ = std::make_unique<sim::ControllerProcess>(AMPCTL_BIN, unit_.root(), AMPCTL_BUILD_DIR "/pictures");
    }
    sim::SimUnit& unit() { return unit_; }
    sim::ControllerProcess& ctl() { return *ctl_; }
    std::string control(const std::string& line) { return sim::applyControlLine(unit_.board(), line, &physics_); }
    // Presses a key for ms and waits for one more of the key handler's log line of it. The
    // button thread runs each key's action itself, so a press that begins and ends while
    // the previous action still runs (a loaded machine, a sanitizer build) is never seen:
    // one with no line after 5 s is pressed once more.
    void press(int key, int ms, const std::string& logLine)
    {
        const std::string before = ctl_->stderrText();
        size_t seen = 0;
        for (size_t p = before.find(logLine); p != std::string::npos; p = before.find(logLine, p + 1))
            ++seen;
        ASSERT_TRUE(unit_.pressButton(key, ms));
        if (!ctl_->waitForStderr(logLine, 5, seen + 1)) {
            ASSERT_TRUE(unit_.pressButton(key, ms));
        }
        ASSERT_TRUE(ctl_->waitForStderr(logLine, 10, seen + 1)) << logLine << "\n" << ctl_->stderrText();
    }
    // The screen loop runs once start-up has drawn its first screen.
    bool waitForScreenLoop() { return ctl_->waitForStderr("Timer thread started", 40); }

    Rgb panelPixel(int x, int y) const
    {
        const std::string fb = readFile(unit_.path("dev/fb0"));
        const size_t o = (static_cast<size_t>(y) * 800 + static_cast<size_t>(x)) * 4;
        if (fb.size() < o + 4)
            return {-1, -1, -1};
        return {static_cast<unsigned char>(fb[o + 2]), static_cast<unsigned char>(fb[o + 1]),
                static_cast<unsigned char>(fb[o])};
    }
    // Waits until the pixel, or one next to it, has the colour.
    bool waitForColourNear(int x, int y, Rgb colour, double seconds)
    {
        for (double waited = 0; waited < seconds; waited += 0.1) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (panelPixel(x + dx, y + dy) == colour)
                        return true;
            usleep(100000);
        }
        return false;
    }
    // Waits until the panel's rectangle x0..x1, y0..y1 (inclusive) matches a reference
    // screen that `draw` paints into an in-memory panel.
    bool waitForPanelMatch(const std::function<void(FrameBuffer*)>& draw, int x0, int y0, int x1, int y1,
                           double seconds)
    {
        return ::waitForPanelMatch(unit_.path("dev/fb0"), unit_.root(), draw, x0, y0, x1, y1, seconds);
    }
    // The labels of one soft button, as LoadButtons draws them.
    bool waitForButton(int button, const char* upper, const char* lower, double seconds)
    {
        const ButtonGeometry& g = buttonGeometry[button - 1];
        return waitForPanelMatch(
            [&](FrameBuffer* fb) {
                for (int y = BUTTON_TOP; y <= BUTTON_BOTTOM; ++y)
                    DrawHorizontalLine(g.fillFrom, y, g.fillTo + 1, 40, 40, 40, fb, 0);
                putString(BUTTON_UPPER_FONT, g.upperX, BUTTON_UPPER_Y, upper, 250, 150, 0, fb, 0);
                putString(BUTTON_LOWER_FONT, g.lowerX, BUTTON_LOWER_Y, lower, 250, 150, 0, fb, 0);
            },
            g.fillFrom, BUTTON_TOP + 1, g.fillTo, 477, seconds);
    }
    // A region of a screen picture, untouched or with one text drawn over it.
    bool waitForPicture(const char* picture, int x0, int y0, int x1, int y1, double seconds,
                        const std::function<void(FrameBuffer*)>& over = {})
    {
        return waitForPanelMatch(
            [&](FrameBuffer* fb) {
                drawScreenPicture(fb, picture);
                if (over)
                    over(fb);
            },
            x0, y0, x1, y1, seconds);
    }
    void screenshot(const std::string& name) { saveScreenshot(unit_.path("dev/fb0"), name); }

private:
    sim::BoardPhysics physics_;
    sim::SimUnit unit_;
    std::unique_ptr<sim::ControllerProcess> ctl_;
};

} // namespace uitest
