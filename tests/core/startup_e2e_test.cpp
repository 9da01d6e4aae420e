// The real ampctl binary on a simulated unit: start-up, the link's first frames, the
// settings file, retries on the wire, and the orderly shutdown on SIGTERM.
#include "controller_process.h"
#include "display/snapshot.h"
#include "sim_unit.h"
#include "support/files.h"
#include "support/panel_picture.h"
#include "support/startup_sequence.h"
#include "support/wire.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

TEST(StartupE2E, StartSequenceDefaultsRetriesAndOrderlyShutdown)
{
    sim::SimUnit unit(freshTempDir("e2e-startup"));
    {
        sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
        // The initialisation commands go out one after each status reply, in their order,
        // then the link settles into status and frequency polls.
        ASSERT_TRUE(unit.waitForFrames([](const auto& log) { return countHost(log, "FM;") >= 2; }, 40))
            << ctl.stderrText();
        auto log = unit.wireLog();
        EXPECT_EQ("4dST;", log.front().frame);
        auto texts = hostTexts(log);
        const std::vector<std::string> expected = freshStartTexts();
        ASSERT_GE(texts.size(), expected.size());
        EXPECT_EQ(expected, std::vector<std::string>(texts.begin(), texts.begin() + expected.size()));

        // With an empty settings directory the defaults were written.
        std::string setup = readFile(unit.path("opt/set/setup.txt"));
        EXPECT_EQ(0u, setup.find("EnableKeyb: 1\nEnableSpi: 0\n"));
        EXPECT_NE(std::string::npos, setup.find("\nCPUPercVentola: 70\n"));

        // A command with no reply goes out four times, then the status poll.
        unit.board().injectFault(sim::Fault::silence(4, "FM"));
        ASSERT_TRUE(ctl.waitForStderr("STOP RETRAY!! FM", 15)) << ctl.stderrText();
        // A refused reply takes the same path.
        unit.board().injectFault(sim::Fault::refuse('&', 1, "FM"));
        ASSERT_TRUE(ctl.waitForStderr("CMD Errato:FM&;", 5));
        ASSERT_TRUE(ctl.waitForStderr("ERROR LINEAR: RETRAY FM", 5));

        // Stop it once start-up is complete and every thread runs.
        ASSERT_TRUE(ctl.waitForStderr(">>>>>>>>>> SOCKET SERVER start", 30));
        ASSERT_TRUE(ctl.terminate());
        EXPECT_EQ(0, ctl.waitExit(20));
        ASSERT_TRUE(ctl.waitForStderr("Closed!\n", 5));
        std::string err = ctl.stderrText();
        // Interface mode 0: neither transceiver link runs, so neither is joined.
        auto order = positions(err, shutdownLines());
        EXPECT_EQ(std::string::npos, err.find("joined Serial end"));
        EXPECT_EQ(std::string::npos, err.find("joined CatSerial end"));
        for (size_t i = 0; i < order.size(); i++) {
            ASSERT_NE(-1, order[i]) << "missing shutdown line " << i << "\n" << err;
            if (i > 0) {
                EXPECT_LT(order[i - 1], order[i]) << "shutdown line " << i << " out of order";
            }
        }
        // The link stopped with the program: the wire is quiet after the exit.
        size_t after = unit.wireLog().size();
        usleep(300000);
        EXPECT_EQ(after, unit.wireLog().size());
    }

    // A second start reads the settings back without rewriting them.
    std::string mountsBefore = readFile(unit.path("sim/mount.log"));
    auto written = std::filesystem::last_write_time(unit.path("opt/set/setup.txt"));
    {
        sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
        ASSERT_TRUE(ctl.waitForStderr("ModeWorkIdx", 10)) << ctl.stderrText();
        ctl.terminate();
        EXPECT_EQ(0, ctl.waitExit(30));
        EXPECT_EQ(std::string::npos, ctl.stderrText().find("Init Setup!"));
    }
    EXPECT_EQ(mountsBefore, readFile(unit.path("sim/mount.log")));
    EXPECT_EQ(written, std::filesystem::last_write_time(unit.path("opt/set/setup.txt")));
    unit.stop();
    std::filesystem::remove_all(unit.root());
}

} // namespace

namespace {

TEST(StartupE2E, OneRemoteSwitchStartsTheWholeRemoteGroup)
{
    sim::SimUnit unit(freshTempDir("e2e-remote"));
    std::filesystem::create_directories(unit.path("opt/set"));
    std::ofstream(unit.path("opt/set/setup.txt")) << "EnableCAT: 1\nWebSocket: 2\nEnableKeyb: 0\n";
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr(">>>>>>>>>> SOCKET CLIENT start", 40)) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("REMOTE STOP", 10));
    for (const char* line : {"Th_scrivi start\n", "Th_leggi start\n", "Cat start\n"})
        EXPECT_TRUE(ctl.waitForStderr(line, 10)) << line;
    // The group saves the settings once it has started all four.
    std::string setup;
    for (int i = 0; i < 50 && setup.find("EnableFFT: 1\n") == std::string::npos; i++) {
        usleep(100000);
        setup = readFile(unit.path("opt/set/setup.txt"));
    }
    for (const char* key : {"EnableRead: 1\n", "EnableWrite: 1\n", "EnableCAT: 1\n", "EnableFFT: 1\n", "WebSocket: 2\n"})
        EXPECT_NE(std::string::npos, setup.find(key)) << key << setup;
    usleep(2500000);  // start-up's last pause after the group
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30));
    ASSERT_TRUE(ctl.waitForStderr("Closed!\n", 5));
    std::string err = ctl.stderrText();
    auto order = positions(err, {"joined FFT end", "joined th_leggi end", "joined th_scrivi end", "joined Wsocket end",
                                 "joined Cat end", "joined Linear end"});
    for (size_t i = 0; i < order.size(); i++) {
        ASSERT_NE(-1, order[i]) << "missing join " << i << "\n" << err;
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]);
        }
    }
    EXPECT_EQ(std::string::npos, err.find("joined Key end")) << "the keyboard was never started";
    unit.stop();
    std::filesystem::remove_all(unit.root());
}

} // namespace

namespace {

TEST(StartupE2E, BigModelShowsItsStartPictureAndInterruptedSavesAreCleared)
{
    sim::SimUnit unit(freshTempDir("e2e-start120"));
    unit.board().state().setAmpModel('1');
    std::filesystem::create_directories(unit.path("opt/set"));
    writeFile(unit.path("opt/set/setup.txt.tmp"), "EnableKe");
    const std::string pictures = AMPCTL_BUILD_DIR "/pictures";
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), pictures);
    // The board answered its identity before the start picture was chosen.
    ASSERT_TRUE(ctl.waitForStderr("EE2: 1 31", 20)) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("Time Loading ... 8..", 20)) << ctl.stderrText();
    const std::string panel = readFile(unit.framebufferPath());
    const std::string shot = AMPCTL_BUILD_DIR "/test-output/startup";
    std::filesystem::create_directories(shot);
    writeScreenPng(reinterpret_cast<const unsigned char*>(panel.data()), 800, 480, 800 * 4, 4,
                   (shot + "/start120.png").c_str());
    // Above the countdown text the panel is the big model's picture, which differs from the
    // standard one in its power line.
    EXPECT_EQ(0u, differingPixels(panel, pictures + "/start120.png", 350));
    EXPECT_GT(differingPixels(panel, pictures + "/start.png", 350), 100u);

    // The temporary file of a save killed midway was removed before the settings were read.
    EXPECT_FALSE(std::filesystem::exists(unit.path("opt/set/setup.txt.tmp")));
    EXPECT_TRUE(ctl.waitForStderr("removed stale temporary file /opt/set/setup.txt.tmp (a save was interrupted)\n", 1));
    EXPECT_TRUE(ctl.waitForStderr("Init Setup!", 1)) << "no setup.txt: the defaults are written";
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30));
    unit.stop();
    std::filesystem::remove_all(unit.root());
}

} // namespace
