// The run-time control commands of a running unit (sim/control, read by ampsim).
#include "control.h"
#include "sim_unit.h"
#include "sim_test_util.h"

#include <gtest/gtest.h>

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
