// The real ampctl on the simulated unit, reached as a Hamlib network amplifier: Hamlib's
// own client opens the connection, and a line client speaking the NET backend's lines
// reads the frequency, powers, SWR and fault text the board produces, switches stand-by,
// resets a fault and moves the band (the commands seen on the wire). Read-only, every set
// is refused with nothing on the wire, and malformed lines and abrupt connections leave
// the server serving.
#include "board_physics.h"
#include "control.h"
#include "controller_process.h"
#include "remote/hamlib_protocol.h"
#include "remote/hamlib_test_util.h"
#include "sim_unit.h"
#include "support/board_setup.h"
#include "support/files.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

using hamlibtest::LineClient;

namespace {

// Host texts sent after entry `from` include every one of `wanted`.
bool sentAfter(sim::SimUnit& unit, size_t from, const std::vector<std::string>& wanted, double timeout = 15)
{
    return unit.waitForFrames(
        [&](const auto& log) {
            const std::vector<std::string> sent = hostTexts(log, from);
            return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& w) {
                return std::find(sent.begin(), sent.end(), w) != sent.end();
            });
        },
        timeout);
}

bool near(const std::string& reply, double expected, double tolerance)
{
    return !reply.empty() && std::fabs(std::atof(reply.c_str()) - expected) <= tolerance;
}

// A unit with a band table from 0 Hz (forward 1000 W at 4000, reflected 250 W at 4000,
// input 10 W at 1000), an antenna table (40 m: antenna 2, pad step 1; every other band:
// antenna 1, no pads), 10 W of drive into a load of SWR 2, and the Hamlib server on `port`.
struct HamlibUnit {
    HamlibUnit(const char* name, int port, bool allowSet) : unit(freshTempDir(name))
    {
        writeFile(unit.path("opt/set/config.txt"),
                  "; band table\n"
                  "0 30000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n"
                  "30000000 54000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n");
        writeFile(unit.path("opt/set/antenna_b1.txt"),
                  "!Gen\n160m 1800000 2000000 1 1 0 0 0\n80m 3500000 4000000 1 1 0 0 0\n"
                  "60m 5330500 5450000 1 1 0 0 0\n40m 7000000 7300000 1 2 0 1 0\n"
                  "30m 10100000 10150000 1 1 0 0 0\n20m 14000000 14350000 1 1 0 0 0\n"
                  "17m 18068000 18168000 1 1 0 0 0\n15m 21000000 21450000 1 1 0 0 0\n"
                  "12m 24890000 24990000 1 1 0 0 0\n10m 28000000 29700000 1 1 0 0 0\n"
                  "6m 50000000 54000000 1 1 0 0 0\n");
        writeFile(unit.path("opt/set/hamlib.txt"),
                  "Port: " + std::to_string(port) + "\nAllowSet: " + (allowSet ? "1" : "0") + "\n");
        attachCalibratedBoard(unit, physics);
        control("frequency 14200000");
    }
    ~HamlibUnit()
    {
        unit.board().state().setPhysics({});
        unit.stop();
        std::filesystem::remove_all(unit.root());
    }
    void control(const std::string& line) { EXPECT_EQ("", sim::applyControlLine(unit.board(), line, &physics)); }

    sim::SimUnit unit;
    sim::BoardPhysics physics;
};

} // namespace

TEST(HamlibE2E, ReadsSwitchesStandbyResetsAndMovesBand)
{
    const int port = hamlibtest::freePort();
    HamlibUnit h("hamlib-e2e", port, true);
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib: listening on 127.0.0.1:" + std::to_string(port), 60))
        << ctl.stderrText();

    // Hamlib's own client opens as a NET amplifier: it asks for the state dump and reads
    // the protocol version and the model from our reply.
    const std::string opened = hamlibtest::runHamlibClient(port, "f");
    EXPECT_NE(std::string::npos, opened.find("5c 64 75 6d 70 5f 73 74 61 74 65 0a")) << opened;  // "\dump_state\n"
    EXPECT_NE(std::string::npos, opened.find("0000    30 0a")) << opened;  // protocol version 0
    EXPECT_NE(std::string::npos, opened.find("0000    32 0a")) << opened;  // model 2

    LineClient c(port);
    ASSERT_TRUE(c.ok());
    // The frequency the board's counter measures, the forward power and SWR of 10 W of drive
    // into a load of SWR 2 (about 100 W out), within the reply rounding.
    EXPECT_EQ("14200000", hamlibtest::askUntil(c, "f", [](const std::string& r) { return r == "14200000"; }));
    EXPECT_TRUE(near(hamlibtest::askUntil(c, "l PWRFORWARD", [](const std::string& r) { return near(r, 100, 3); }),
                     100, 3));
    EXPECT_TRUE(near(hamlibtest::askUntil(c, "l SWR", [](const std::string& r) { return near(r, 2.0, 0.05); }),
                     2.0, 0.05));
    EXPECT_TRUE(near(c.ask("\\get_level PWRINPUT"), 10, 1));
    EXPECT_EQ("None", c.ask("l FAULT"));

    // An injected reflected-power fault shows as its error text; the reset clears it at the
    // board ("CPFFFF;") and from the list.
    h.control("reading fault 2");
    EXPECT_EQ("Error REFL", hamlibtest::askUntil(c, "l FAULT", [](const std::string& r) { return r == "Error REFL"; }));
    size_t mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT 0", c.ask("R 2"));
    EXPECT_TRUE(sentAfter(h.unit, mark, {"CPFFFF;"})) << ctl.stderrText();
    EXPECT_EQ("None", hamlibtest::askUntil(c, "l FAULT", [](const std::string& r) { return r == "None"; }));

    // Stand-by and back: the bypass commands on the wire, the state read back.
    mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT 0", c.ask("\\set_powerstat 2"));
    EXPECT_TRUE(sentAfter(h.unit, mark, {"AB1;"}));
    EXPECT_EQ("2", hamlibtest::askUntil(c, "\\get_powerstat", [](const std::string& r) { return r == "2"; }));
    mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT 0", c.ask("\\set_powerstat 4"));
    EXPECT_TRUE(sentAfter(h.unit, mark, {"AB0;"}));
    EXPECT_EQ("4", hamlibtest::askUntil(c, "\\get_powerstat", [](const std::string& r) { return r == "4"; }));

    // Another band: with no carrier on the counter, the set frequency stands and the 40 m
    // row's antenna and pad step go to the board; back on 20 m, its row's.
    h.control("frequency 0");
    mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT 0", c.ask("F 7100000"));
    EXPECT_TRUE(sentAfter(h.unit, mark, {"SA2;", "AT01;"})) << ctl.stderrText();
    EXPECT_EQ("7100000", c.ask("f"));
    mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT 0", c.ask("\\set_freq 14074000.0"));
    EXPECT_TRUE(sentAfter(h.unit, mark, {"SA1;", "AT00;"})) << ctl.stderrText();
    EXPECT_EQ("14074000", c.ask("\\get_freq"));

    // Commands the unit has no use for, and bad arguments.
    EXPECT_EQ("RPRT -4", c.ask("w ZZ;"));
    EXPECT_EQ("RPRT -4", c.ask("\\dump_caps"));
    EXPECT_EQ("RPRT -4", c.ask("L SWR 1"));
    EXPECT_EQ("RPRT -1", c.ask("F 99999999999"));
    EXPECT_EQ("RPRT -1", c.ask("l NH"));

    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
    EXPECT_NE(std::string::npos, ctl.stderrText().find("Hamlib: server stopped"));
}

TEST(HamlibE2E, ReadOnlyRefusesSetsAndSurvivesMalformedLinesAndAbruptConnections)
{
    const int port = hamlibtest::freePort();
    HamlibUnit h("hamlib-ro", port, false);
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("set commands refused", 60)) << ctl.stderrText();

    LineClient c(port);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ("14200000", hamlibtest::askUntil(c, "f", [](const std::string& r) { return r == "14200000"; }));

    // Every set is refused and nothing reaches the wire.
    h.control("frequency 0");
    const size_t mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT -9", c.ask("\\set_powerstat 2"));
    EXPECT_EQ("RPRT -9", c.ask("F 7100000"));
    EXPECT_EQ("RPRT -9", c.ask("R 1"));
    h.unit.waitForFrames(mark + 40, 3);
    for (const std::string& t : hostTexts(h.unit.wireLog(), mark))
        EXPECT_TRUE(t.rfind("AB", 0) != 0 && t.rfind("SA", 0) != 0 && t.rfind("CP", 0) != 0 && t.rfind("FA", 0) != 0)
            << t;
    EXPECT_EQ("4", c.ask("\\get_powerstat"));

    // 1,000 malformed lines: random bytes, over-long lines, bad arguments. Each is followed
    // by "_" (the information line): every reply before it is one line, and the server goes
    // on answering.
    std::mt19937 rng(7);
    const char* fixed[] = {"F", "F abc", "F 1e400", "F -5", "l", "\\set_powerstat x", "R", "\\",
                           "\\get_level", "f f f f f f", "\\set_freq 0x10", "l SWR extra words"};
    int answered = 0;
    for (int i = 0; i < 1000; i++) {
        std::string line;
        if (i % 10 == 0) {
            line.assign(300 + rng() % 3000, static_cast<char>('A' + rng() % 26));
        } else if (i % 3 == 0) {
            line = fixed[rng() % std::size(fixed)];
        } else {
            const size_t n = rng() % 40;
            for (size_t k = 0; k < n; k++) {
                const char ch = static_cast<char>(rng() % 256);
                line += ch == '\n' ? ' ' : ch;
            }
            if (parseHamlibLine(line).command == HamlibCommand::GetInfo)
                line = "\\get_inf";
        }
        c.sendRaw(line + "\n_\n");
        for (int k = 0; k < 3; k++) {
            if (c.readLine().rfind("ampctl ", 0) == 0) {
                answered++;
                break;
            }
        }
    }
    EXPECT_EQ(1000, answered) << "lines whose information line came back";
    EXPECT_EQ("14200000", c.ask("f"));

    // 200 abrupt connections: closed at once, mid-line, or reset.
    for (int i = 0; i < 200; i++) {
        LineClient a(port);
        ASSERT_TRUE(a.ok()) << "connection " << i;
        if (i % 3 == 1)
            a.sendRaw("l PWRFOR");
        if (i % 3 == 2) {
            a.sendRaw("f\nl SWR\n");
            const linger reset{1, 0};
            setsockopt(a.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
    }
    // Connections are bounded: with every slot held, one more is closed by the server.
    {
        LineClient held1(port), held2(port), held3(port);
        EXPECT_EQ("4", held3.ask("\\get_powerstat"));
        LineClient extra(port);
        EXPECT_TRUE(extra.closedByPeer(5));
        EXPECT_EQ("14200000", c.ask("f"));
    }

    // Hamlib's own client still reaches it.
    const std::string opened = hamlibtest::runHamlibClient(port, "f");
    EXPECT_NE(std::string::npos, opened.find("0000    32 0a")) << opened;

    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
}
