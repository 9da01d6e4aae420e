// The run-time control commands of a running unit (sim/control, read by ampsim).
#include "control.h"
#include "sim_unit.h"
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

TEST(SimControl, ReadingsFrequencyAndSettings)
{
    sim::WireLog log;
    sim::AmpBoard board(log);
    EXPECT_EQ(sim::applyControlText(board, "# comment\n\nreading rawFwd 2500\r\nreading fault 0x21\n"
                                           "reading transmitting 1\nfrequency 7050000\ndelay 5\npace off\n"),
              "");
    const sim::StatusReadings r = board.readings();
    EXPECT_EQ(r.rawFwd, 2500);
    EXPECT_EQ(r.faultByte, 0x21);
    EXPECT_TRUE(r.transmitting);
    EXPECT_EQ(board.state().measuredFrequency(), 7050000u);
    EXPECT_FALSE(board.pacing());
    EXPECT_NE(sim::applyControlLine(board, "reading nothing 1"), "");
    EXPECT_NE(sim::applyControlLine(board, "reading rawFwd x"), "");
    EXPECT_NE(sim::applyControlLine(board, "bogus"), "");
    EXPECT_EQ(sim::applyControlText(board, "bogus\nfrequency 1\n"), "bogus: unknown command bogus\n");
}

TEST(SimControl, FaultsFromText)
{
    sim::WireLog log;
    sim::AmpBoard board(log);
    EXPECT_EQ(sim::applyControlLine(board, "fault silence count 4 command FM"), "");
    EXPECT_EQ(sim::applyControlLine(board, "fault refuse & count -1"), "");
    EXPECT_EQ(sim::applyControlLine(board, "fault split 4 10"), "");
    EXPECT_EQ(sim::applyControlLine(board, "fault keyword QQ"), "");
    EXPECT_EQ(sim::applyControlLine(board, "fault garbage xx;"), "");
    EXPECT_EQ(sim::applyControlLine(board, "fault wrongcrc"), "");
    EXPECT_EQ(sim::applyControlLine(board, "fault lowercrc command ST"), "");
    EXPECT_EQ(board.pendingFaults(), 7u);
    EXPECT_NE(sim::applyControlLine(board, "fault refuse"), "");
    EXPECT_NE(sim::applyControlLine(board, "fault split x 1"), "");
    EXPECT_NE(sim::applyControlLine(board, "fault silence count"), "");
    EXPECT_NE(sim::applyControlLine(board, "fault melt"), "");
    EXPECT_EQ(board.pendingFaults(), 7u);
    EXPECT_EQ(sim::applyControlLine(board, "clear-faults"), "");
    EXPECT_EQ(board.pendingFaults(), 0u);
}

TEST(SimControl, AmpsimAppliesTheControlFile)
{
    simtest::ScratchDir dir;
    const std::string root = dir.path() + "/root";
    sim::ControllerOptions o;
    o.binary = AMPSIM_BIN;
    o.root = dir.path();
    o.workDir = dir.path();
    o.args = {"--root", root, "--no-pace"};
    o.stderrFile = dir.path() + "/ampsim.stderr";
    sim::ControllerProcess ampsim(o);
    // The unit is up when its link exists.
    const double end = monoSeconds() + 20;
    while (!std::filesystem::is_symlink(root + "/dev/ttyAMA0") && monoSeconds() < end)
        sleepMs(20);
    ASSERT_TRUE(std::filesystem::is_symlink(root + "/dev/ttyAMA0"));
    std::ofstream(root + "/sim/control") << "frequency 3650000\nfault refuse ! command SA\n";
    ASSERT_TRUE(ampsim.waitForStderr("control file applied", 10));
    EXPECT_FALSE(std::filesystem::exists(root + "/sim/control"));
    simtest::Host host(root + "/dev/ttyAMA0");
    EXPECT_EQ(host.exchange("FM;").substr(5, 11), "00003650000");
    EXPECT_EQ(host.exchange("SA1;").substr(2), "SA!;");
    EXPECT_TRUE(ampsim.terminate());
    EXPECT_EQ(ampsim.waitExit(10), 0);
}

TEST(SimControl, PhysicalBoardDriveLoadAndSwitch)
{
    sim::WireLog log;
    sim::AmpBoard board(log);
    sim::BoardPhysics physics;
    EXPECT_NE(sim::applyControlLine(board, "drive 5"), "") << "no physics: refused";

    sim::BoardSettings settings;
    settings.frequencySet = 7100000;
    sim::StatusReadings readings;
    EXPECT_EQ(sim::applyControlText(board, "drive 5\nload swr 3\n", &physics), "");
    physics.apply(settings, readings);
    EXPECT_GT(readings.rawFwd, 0);
    const int reflectedAtSwr3 = readings.rawRefl;
    EXPECT_GT(reflectedAtSwr3, 0);

    // The dipole through a tuner word of zero reflects differently from the plain load.
    EXPECT_EQ(sim::applyControlLine(board, "load dipole", &physics), "");
    physics.apply(settings, readings);
    EXPECT_NE(reflectedAtSwr3, readings.rawRefl);

    // Before any frequency is set the dipole reflects everything; the readings stay sane.
    settings.frequencySet = 0;
    physics.apply(settings, readings);
    EXPECT_NEAR(2048, readings.rawTherm1, 10) << "about 25 degrees";
    EXPECT_TRUE(std::isfinite(physics.truth().temp1));
    EXPECT_GT(readings.rawRefl, 0) << "total reflection";
    settings.frequencySet = 7100000;

    EXPECT_EQ(sim::applyControlLine(board, "drive 0", &physics), "");
    physics.apply(settings, readings);
    EXPECT_EQ(0, readings.rawFwd);

    EXPECT_NE(sim::applyControlLine(board, "drive -1", &physics), "");
    EXPECT_NE(sim::applyControlLine(board, "load swr 0.5", &physics), "");
    EXPECT_NE(sim::applyControlLine(board, "load yagi", &physics), "");
    EXPECT_NE(sim::applyControlLine(board, "physics maybe", &physics), "");

    // With physics off, "reading" lines decide the reply again.
    EXPECT_EQ(sim::applyControlText(board, "physics on\ndrive 5\n", &physics), "");
    EXPECT_EQ(sim::applyControlText(board, "physics off\nreading rawFwd 1234\n", &physics), "");
    EXPECT_EQ(1234, board.readings().rawFwd);
}
