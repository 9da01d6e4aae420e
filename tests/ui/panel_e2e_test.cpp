// The real ampctl on a simulated unit: the USB keyboard's service keys and F12, the button
// thread's pins on the register file, and the ends of the process when the register block
// is missing.
#include "controller_process.h"
#include "root_builder.h"
#include "sim_unit.h"
#include "support/files.h"

#include "platform/clock.h"
#include "platform/gpio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* PICTURES = AMPCTL_BUILD_DIR "/pictures";

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        n++;
    return n;
}

// Waits until the file holds at least `lines` lines.
bool waitLines(const std::string& path, size_t lines, double seconds)
{
    const double end = monoSeconds() + seconds;
    while (count(readFile(path), "\n") < lines && monoSeconds() < end)
        sleepMs(50);
    return count(readFile(path), "\n") >= lines;
}

uint32_t reg(const std::string& block, uint32_t offset)
{
    uint32_t v = 0;
    std::memcpy(&v, block.data() + offset, sizeof v);
    return v;
}

int pinFunction(const std::string& block, int pin)
{
    return static_cast<int>((reg(block, GPIO_FSEL0 + static_cast<uint32_t>(pin / 10) * 4) >> ((pin % 10) * 3)) & 7);
}

TEST(KeyboardE2E, ServiceKeysThenF12EndsTheProgramInOrder)
{
    sim::SimUnit unit(freshTempDir("e2e-keyboard"));
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), PICTURES);
    ASSERT_TRUE(ctl.waitForStderr("Continuous keyboard loop started", 60)) << ctl.stderrText();

    // F1 does nothing; Print Screen, its first record split over two writes, takes one
    // screenshot of the panel.
    ASSERT_TRUE(unit.keyboardKey(59));
    const std::vector<unsigned char> stroke = sim::keyStroke(sim::kKeySysRq);
    ASSERT_TRUE(unit.writeKeyboard(stroke.data(), 10));
    sleepMs(300);
    ASSERT_TRUE(unit.writeKeyboard(stroke.data() + 10, stroke.size() - 10));
    ASSERT_TRUE(ctl.waitForStderr("launched screenshot", 20)) << ctl.stderrText();
    const std::string shot = unit.path("tmp/screen.png");
    EXPECT_EQ(unit.root() + "/tmp/screen.png\n", readFile(unit.path("sim/fbgrab.log")));
    EXPECT_EQ(0u, readFile(shot).rfind("\x89PNG\r\n\x1a\n", 0)) << "a PNG of the panel";

    // F11 saves the settings under the remount.
    const size_t mounts = count(readFile(unit.path("sim/mount.log")), "\n");
    ASSERT_TRUE(unit.keyboardKey(sim::kKeyF11));
    ASSERT_TRUE(ctl.waitForStderr("Save setup", 20));
    EXPECT_TRUE(waitLines(unit.path("sim/mount.log"), mounts + 2, 20)) << "rw and ro remount around the write";

    // F10 runs the remote service shell and waits for it.
    ASSERT_TRUE(unit.keyboardKey(sim::kKeyF10));
    ASSERT_TRUE(ctl.waitForStderr("launched ssh", 20));
    EXPECT_TRUE(fs::exists(unit.path("sim/sshshell.log")));

    // F12: running drops, the terminal is restored, main shuts down in order, status 0.
    ASSERT_TRUE(unit.keyboardKey(sim::kKeyF12));
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
    ctl.waitStderrEnd(5);
    const std::string err = ctl.stderrText();
    EXPECT_EQ(1u, count(readFile(unit.path("sim/fbgrab.log")), "\n")) << "one screenshot";
    EXPECT_EQ(1u, count(err, "launched ssh")) << "the shell ran once";
    const size_t exited = err.find("Exited by KEY_F12");
    const size_t closing = err.find("Close..\n");
    const size_t joined = err.find("joined Key end");
    const size_t closed = err.find("Closed!\n");
    ASSERT_NE(std::string::npos, exited) << err;
    EXPECT_LT(exited, closing);
    EXPECT_LT(closing, joined);
    EXPECT_LT(joined, closed);
    EXPECT_NE(std::string::npos, readFile(unit.path("sim/stty.log")).find("sane"));
    EXPECT_NE(std::string::npos, readFile(unit.path("sim/tput.log")).find("clear"));
    unit.stop();
    fs::remove_all(unit.root());
}

} // namespace

namespace {

TEST(ButtonsE2E, PinsSetUpOnTheRegisterFileMailboxTakenAndNoKeyboardEndsPromptly)
{
    sim::SimUnit unit(freshTempDir("e2e-buttons"));
    // No keyboard: the thread looks for one every 20 s.
    fs::remove(unit.path("dev/input/by-id/sim-event-kbd"));
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), PICTURES);
    ASSERT_TRUE(ctl.waitForStderr("GPIO loop start", 30)) << ctl.stderrText();
    // The start-up code posted before the link starts is taken from the mailbox.
    ASSERT_TRUE(ctl.waitForStderr("CMD TINY c5\n", 20)) << ctl.stderrText();

    const std::string block = readFile(unit.path("dev/mem"));
    ASSERT_EQ(GPIO_BLOCK_BYTES, block.size());
    for (int pin : {4, 6, 13, 16})
        EXPECT_EQ(1, pinFunction(block, pin)) << "output " << pin;
    for (int pin = 22; pin <= 27; pin++)
        EXPECT_EQ(0, pinFunction(block, pin)) << "input " << pin;
    EXPECT_EQ(0u, reg(block, GPIO_PUD));
    EXPECT_EQ(0u, reg(block, GPIO_PUDCLK0));
    EXPECT_EQ(sim::releasedLevels(), reg(block, GPIO_LEV0)) << "the level word is the panel's alone";

    ASSERT_TRUE(ctl.waitForStderr("keyb open..", 40)) << ctl.stderrText();
    sleepMs(500);
    EXPECT_EQ(std::string::npos, ctl.stderrText().find("Keyboard opened"));
    // The keyboard's 20 s wait ends with running: the program stops in a few seconds.
    const double asked = monoSeconds();
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30));
    EXPECT_LT(monoSeconds() - asked, 12.0) << ctl.stderrText();
    EXPECT_TRUE(ctl.waitForStderr("joined Key end", 5));
    unit.stop();
    fs::remove_all(unit.root());
}

TEST(ButtonsE2E, RegisterBlockMissingOrShortEndsTheProcess)
{
    const std::string root = sim::buildRoot(freshTempDir("e2e-gpio-fail"));
    fs::remove(root + "/dev/mem");
    {
        sim::ControllerProcess ctl(AMPCTL_BIN, root, PICTURES);
        EXPECT_EQ(8, ctl.waitExit(60));
        ctl.waitStderrEnd(5);
        EXPECT_NE(std::string::npos, ctl.stderrText().find("can't open /dev/mem")) << ctl.stderrText();
    }
    // A file shorter than the block cannot be mapped as one.
    writeFile(root + "/dev/mem", std::string(100, '\0'));
    {
        sim::ControllerProcess ctl(AMPCTL_BIN, root, PICTURES);
        EXPECT_EQ(255, ctl.waitExit(60));
        ctl.waitStderrEnd(5);
        EXPECT_NE(std::string::npos, ctl.stderrText().find("mmap error")) << ctl.stderrText();
    }
    fs::remove_all(root);
}

} // namespace
