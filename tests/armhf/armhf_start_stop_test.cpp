// The unit's armhf controller (tools/build-unit.sh) run through qemu-user on the simulated
// unit of this machine: it shows its start picture, sends the board's start sequence, writes
// its default settings, clears an interrupted save and stops in order on SIGTERM. The times
// it took under emulation are printed (they are not checked: the machine is shared).
#include "controller_process.h"
#include "display/snapshot.h"
#include "sim_unit.h"
#include "support/files.h"
#include "support/panel_picture.h"
#include "support/startup_sequence.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

TEST(ArmhfController, StartsOnTheSimulatedUnitAndStopsInOrderOnSigterm)
{
    const std::string build = AMPCTL_UNIT_BUILD;
    ASSERT_TRUE(std::filesystem::exists(build + "/ampctl")) << "run tools/build-unit.sh first";
    sim::SimUnit unit(freshTempDir("armhf-e2e"));
    std::filesystem::create_directories(unit.path("opt/set"));
    writeFile(unit.path("opt/set/setup.txt.tmp"), "EnableKe");

    sim::ControllerOptions options;
    options.binary = QEMU_ARM;
    options.args = {build + "/ampctl"};
    options.root = unit.root();
    options.workDir = build + "/pictures";
    const Clock::time_point started = Clock::now();
    sim::ControllerProcess ctl(options);

    // The first status poll, then each initialisation command after a status reply.
    ASSERT_TRUE(unit.waitForFrame("4dST;", true, 60)) << ctl.stderrText();
    const double firstFrame = secondsSince(started);
    ASSERT_TRUE(unit.waitForFrames([](const auto& log) { return countHost(log, "FM;") >= 2; }, 90))
        << ctl.stderrText();
    const double sequenceDone = secondsSince(started);
    const auto log = unit.wireLog();
    EXPECT_EQ("4dST;", log.front().frame);
    const auto texts = hostTexts(log);
    const std::vector<std::string> expected = freshStartTexts();
    ASSERT_GE(texts.size(), expected.size());
    EXPECT_EQ(expected, std::vector<std::string>(texts.begin(), texts.begin() + expected.size()));

    // The start picture, read by the armhf libpng from the pictures the armhf generator
    // drew, fills the panel above the countdown.
    ASSERT_TRUE(ctl.waitForStderr("Time Loading ... 8..", 60)) << ctl.stderrText();
    const std::string panel = readFile(unit.framebufferPath());
    const std::string shots = AMPCTL_BUILD_DIR "/test-output/armhf";
    std::filesystem::create_directories(shots);
    writeScreenPng(reinterpret_cast<const unsigned char*>(panel.data()), 800, 480, 800 * 4, 4,
                   (shots + "/start.png").c_str());
    EXPECT_EQ(0u, differingPixels(panel, build + "/pictures/start.png", 350));

    // The settings directory was listed and the stale save removed, then the defaults written.
    EXPECT_TRUE(ctl.waitForStderr("removed stale temporary file /opt/set/setup.txt.tmp (a save was interrupted)\n", 1));
    EXPECT_FALSE(std::filesystem::exists(unit.path("opt/set/setup.txt.tmp")));
    const std::string setup = readFile(unit.path("opt/set/setup.txt"));
    EXPECT_EQ(0u, setup.find("EnableKeyb: 1\nEnableSpi: 0\n")) << setup;
    EXPECT_NE(std::string::npos, setup.find("\nCPUPercVentola: 70\n"));

    // Start-up complete, every thread running: SIGTERM stops it in order.
    ASSERT_TRUE(ctl.waitForStderr(">>>>>>>>>> SOCKET SERVER start", 120)) << ctl.stderrText();
    const double ready = secondsSince(started);
    const Clock::time_point stopping = Clock::now();
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(60));
    const double stopped = secondsSince(stopping);
    ASSERT_TRUE(ctl.waitForStderr("Closed!\n", 5));
    const std::string err = ctl.stderrText();
    const auto order = positions(err, shutdownLines());
    for (size_t i = 0; i < order.size(); i++) {
        ASSERT_NE(-1, order[i]) << "missing shutdown line " << i << "\n" << err;
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]) << "shutdown line " << i << " out of order";
        }
    }
    const size_t after = unit.wireLog().size();
    usleep(300000);
    EXPECT_EQ(after, unit.wireLog().size()) << "the link stopped with the program";

    std::printf("armhf ampctl under qemu-user: first frame %.2f s, start sequence %.2f s, "
                "start-up complete %.2f s, orderly shutdown %.2f s\n",
                firstFrame, sequenceDone, ready, stopped);
    unit.stop();
    std::filesystem::remove_all(unit.root());
}

} // namespace
