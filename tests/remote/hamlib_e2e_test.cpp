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
#include "remote/hamlib_server.h"
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
#include <memory>
#include <random>

using hamlibtest::LineClient;

using hamlibtest::HamlibUnit;
using hamlibtest::sentAfter;

namespace {

bool near(const std::string& reply, double expected, double tolerance)
{
    return !reply.empty() && std::fabs(std::atof(reply.c_str()) - expected) <= tolerance;
}

} // namespace

TEST(HamlibE2E, ReadsSwitchesStandbyResetsAndMovesBand)
{
    const int port = hamlibtest::freePort();
    HamlibUnit h("hamlib-e2e", port, true);
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib: listening on 127.0.0.1:" + std::to_string(port), 60))
        << ctl.stderrText();

    LineClient c(port);
    ASSERT_TRUE(c.ok());
    // The state dump is the protocol version alone, as ampctld answers it.
    c.sendRaw("\\dump_state\n");
    EXPECT_EQ("0\n", c.readReply());

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

    // No stand-by while the amplifier transmits (the front panel does not offer it then):
    // refused, nothing on the wire.
    mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT -9", c.ask("\\set_powerstat 2"));
    hamlibtest::expectNoSetOnWire(h.unit, mark, {"AB"});

    // Without drive, stand-by and back: the bypass commands on the wire, the state read back.
    h.control("drive 0");
    mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT 0", hamlibtest::askUntil(c, "\\set_powerstat 2", [](const std::string& r) { return r == "RPRT 0"; }));
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

namespace {

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// 1,000 malformed lines on the ampctld port: random bytes, over-long lines, bad arguments.
// Each is followed by "_" (the information line): every reply before it is one line, and
// the server goes on answering.
void malformedLines(LineClient& c)
{
    std::mt19937 rng(7);
    const char* fixed[] = {"F", "F abc", "F 1e400", "F -5", "l", "\\set_powerstat x", "R", "\\",
                           "\\get_level", "f f f f f f", "\\set_freq 0x10", "l SWR extra words", "+", "+l",
                           ";\\set_freq"};
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
        for (int k = 0; k < 4; k++) {
            if (c.readLine().rfind("ampctl ", 0) == 0) {
                answered++;
                break;
            }
        }
    }
    EXPECT_EQ(1000, answered) << "lines whose information line came back";
}

// 1,000 malformed commands on the KPA1500 port: random bytes, over-long commands, bad
// arguments. Each is followed by "^ON;": nothing but the wake-up's ';' is answered before
// its "^ON1;", and the server goes on answering.
void malformedCommands(LineClient& c)
{
    std::mt19937 rng(11);
    const char* fixed[] = {"^FRabc", "^OS9", "^PW", "^FR99999999", "^SF1", "^", "^^", "^ON1", "^AE?", "\x01"};
    int answered = 0;
    for (int i = 0; i < 1000; i++) {
        std::string command;
        if (i % 10 == 0) {
            command.assign(300 + rng() % 3000, static_cast<char>('A' + rng() % 26));
        } else if (i % 3 == 0) {
            command = fixed[rng() % std::size(fixed)];
        } else {
            const size_t n = 1 + rng() % 40;
            for (size_t k = 0; k < n; k++) {
                const char ch = static_cast<char>(rng() % 256);
                command += ch == ';' || ch == '^' ? 'x' : ch;
            }
        }
        c.sendRaw(command + ";^ON;");
        for (int k = 0; k < 2; k++) {
            const std::string item = c.readUntil(';');
            if (item == "^ON1;") {
                answered++;
                break;
            }
            EXPECT_EQ(";", item) << "after " << i;
        }
    }
    EXPECT_EQ(1000, answered) << "commands whose ^ON1; came back";
}

// 200 abrupt connections: closed at once, mid-command, or reset.
void abruptConnections(int port, const std::string& partial, const std::string& whole)
{
    for (int i = 0; i < 200; i++) {
        LineClient a(port);
        ASSERT_TRUE(a.ok()) << "connection " << i;
        if (i % 3 == 1)
            a.sendRaw(partial);
        if (i % 3 == 2) {
            a.sendRaw(whole);
            const linger reset{1, 0};
            setsockopt(a.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
    }
}

} // namespace

TEST(HamlibE2E, ReadOnlyRefusesSetsAndSurvivesMalformedLinesAndAbruptConnections)
{
    const int port = hamlibtest::freePort();
    const int kpaPort = hamlibtest::freePort();
    HamlibUnit h("hamlib-ro",
                 "Port: " + std::to_string(port) + "\nKpaPort: " + std::to_string(kpaPort) + "\nAllowSet: 0\n");
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib KPA1500: listening on 127.0.0.1:" + std::to_string(kpaPort), 60))
        << ctl.stderrText();
    ASSERT_NE(std::string::npos, ctl.stderrText().find("set commands refused")) << ctl.stderrText();

    LineClient c(port);
    LineClient k(kpaPort);
    ASSERT_TRUE(c.ok());
    ASSERT_TRUE(k.ok());
    EXPECT_EQ("14200000", hamlibtest::askUntil(c, "f", [](const std::string& r) { return r == "14200000"; }));
    k.sendRaw("^OP;");
    EXPECT_EQ("^OP1;", k.readUntil(';'));

    // Every set on either port is refused and nothing reaches the wire; the KPA1500 port,
    // which has no error reply, answers nothing and logs the refusal once.
    h.control("frequency 0");
    const size_t mark = h.unit.wireLog().size();
    EXPECT_EQ("RPRT -9", c.ask("\\set_powerstat 2"));
    EXPECT_EQ("RPRT -9", c.ask("F 7100000"));
    EXPECT_EQ("RPRT -9", c.ask("R 1"));
    EXPECT_EQ("set_powerstat: 2\nRPRT -9\n", (c.sendRaw("+\\set_powerstat 2\n"), c.readReply()));
    k.sendRaw("^OS0;^FR7100;^OS1;^ON;");
    EXPECT_EQ("^ON1;", k.readUntil(';'));
    hamlibtest::expectNoSetOnWire(h.unit, mark);
    EXPECT_EQ("4", c.ask("\\get_powerstat"));
    EXPECT_EQ(1u, count(ctl.stderrText(), "\"^OS0\" refused: set commands are not allowed")) << ctl.stderrText();
    EXPECT_EQ(0u, count(ctl.stderrText(), "\"^FR7100\" refused"));

    malformedLines(c);
    EXPECT_EQ("14200000", c.ask("f"));
    malformedCommands(k);
    EXPECT_EQ(1u, count(ctl.stderrText(), "not answered (logged once per connection)")) << ctl.stderrText();

    abruptConnections(port, "l PWRFOR", "f\nl SWR\n");
    abruptConnections(kpaPort, "^PWF", "^FR;^SW;");
    // Connections are bounded on each port: with every slot held, one more is closed.
    {
        LineClient held1(port), held2(port), held3(port);
        EXPECT_EQ("4", held3.ask("\\get_powerstat"));
        LineClient extra(port);
        EXPECT_TRUE(extra.closedByPeer(5));
        EXPECT_EQ("14200000", c.ask("f"));
        LineClient kHeld1(kpaPort), kHeld2(kpaPort), kHeld3(kpaPort);
        kHeld3.sendRaw(";");
        EXPECT_EQ(";", kHeld3.readUntil(';'));
        LineClient kExtra(kpaPort);
        EXPECT_TRUE(kExtra.closedByPeer(5));
    }

    // Hamlib's own KPA1500 client still reads the frequency.
    const hamlibtest::ClientRun run = hamlibtest::runHamlibClient(201, kpaPort, "get_freq");
    EXPECT_EQ(0, run.status) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("14200000")) << run.out;

    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
}

TEST(HamlibE2E, IdleClientsAreClosedAndRefusalsLoggedAsACount)
{
    const int port = hamlibtest::freePort();
    HamlibUnit h("hamlib-idle", "Port: " + std::to_string(port) + "\nIdleTimeout: 8\n");
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib: listening on 127.0.0.1:" + std::to_string(port), 60))
        << ctl.stderrText();

    // Every slot held by a client that goes on asking: 30 more connections are refused, in
    // one log line and a count.
    std::vector<std::unique_ptr<LineClient>> held;
    for (int i = 0; i < HAMLIB_MAX_CLIENTS; i++) {
        held.push_back(std::make_unique<LineClient>(port));
        EXPECT_EQ("4", hamlibtest::askUntil(*held.back(), "\\get_powerstat", [](const std::string& r) { return r == "4"; }));
    }
    for (int i = 0; i < 30; i++) {
        LineClient extra(port);
        EXPECT_TRUE(extra.closedByPeer(10)) << "connection " << i;
        if (i % 5 == 4) {
            for (auto& c : held)
                EXPECT_EQ("4", c->ask("\\get_powerstat"));
        }
    }
    EXPECT_EQ(1u, count(ctl.stderrText(), "connection refused")) << ctl.stderrText();

    // Clients that stay silent are closed after the idle limit, and their slots serve again.
    for (auto& c : held)
        EXPECT_TRUE(c->closedByPeer(60));
    LineClient next(port);
    EXPECT_EQ("4", next.ask("\\get_powerstat"));

    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
    EXPECT_EQ(1u, count(ctl.stderrText(), "29 more connections refused")) << ctl.stderrText();
    EXPECT_EQ(static_cast<size_t>(HAMLIB_MAX_CLIENTS), count(ctl.stderrText(), "client silent for 8 s, closed"));
}
