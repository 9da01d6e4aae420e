// The real ampctl on the simulated unit against programs nobody here wrote: Debian's
// ampctld (Hamlib's own network amplifier daemon, dummy model) answers the same requests
// beside it, reply shapes compared; Hamlib's KPA1500 client (model 201) reads the unit's
// frequency and SWR on the KPA1500 port at two loads; and a plain client reads every
// command of the set in the device's forms, a fault the board raises, and switches
// stand-by and the band through the writes.
#include "controller_process.h"
#include "remote/hamlib_test_util.h"
#include "remote/kpa_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <regex>
#include <sstream>

using hamlibtest::HamlibUnit;
using hamlibtest::LineClient;
using hamlibtest::sentAfter;

namespace {

constexpr const char* HAMLIB_DAEMON = "/usr/bin/ampctld";

// Debian's ampctld with the dummy amplifier on a port, stopped with the test.
class Ampctld {
public:
    explicit Ampctld(int port)
    {
        pid_ = fork();
        if (pid_ == 0) {
            const std::string p = std::to_string(port);
            execl(HAMLIB_DAEMON, HAMLIB_DAEMON, "-m", "1", "-T", "127.0.0.1", "-t", p.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Ampctld()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Ampctld(const Ampctld&) = delete;
    Ampctld& operator=(const Ampctld&) = delete;

private:
    pid_t pid_ = -1;
};

// Connects, retrying while the server is still starting (up to 30 s).
std::unique_ptr<LineClient> connectTo(int port)
{
    const double end = monoSeconds() + 30;
    for (;;) {
        auto c = std::make_unique<LineClient>(port);
        if (c->ok() || monoSeconds() > end)
            return c;
        usleep(100000);
    }
}

// A reply's shape: numbers become "#", the free texts (the information line, the model
// name, the level list) "TEXT"; report lines are kept whole, codes included.
std::string shape(const std::string& request, const std::string& reply)
{
    const bool info = request.back() == '_' || request.find("get_info") != std::string::npos;
    const bool levels = request.find('?') != std::string::npos;
    std::istringstream in(reply);
    std::string out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("RPRT ", 0) != 0) {
            static const std::regex model("^(Amplifier Model: |Info: ).*");
            static const std::regex list("^([A-Z]+ )+$");
            static const std::regex number("-?[0-9]+(\\.[0-9]+)?");
            if (std::regex_match(line, model))
                line = std::regex_replace(line, model, "$1TEXT");
            else if (levels && std::regex_match(line, list))
                line = "TEXT";
            else if (info && line.find(':') == std::string::npos)
                line = "TEXT";
            else
                line = std::regex_replace(line, number, "#");
        }
        out += line + "\n";
    }
    return out;
}

// The reply to one request: an extended one is whole once its report line has come, a
// plain one once no more bytes follow its line.
std::string wholeReply(LineClient& c, const std::string& form)
{
    std::string reply = c.readReply();
    const double end = monoSeconds() + 10;
    while (form[0] == '+' && reply.find("RPRT ") == std::string::npos && monoSeconds() < end)
        reply += c.readReply();
    return reply;
}

} // namespace

TEST(HamlibInterop, AnswersAsAmpctldDoes)
{
    const int daemonPort = hamlibtest::freePort();
    Ampctld daemon(daemonPort);
    const int port = hamlibtest::freePort();
    HamlibUnit h("hamlib-ampctld", port, true);
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib: listening on 127.0.0.1:" + std::to_string(port), 60))
        << ctl.stderrText();
    {
        LineClient warm(port);
        hamlibtest::askUntil(warm, "f", [](const std::string& r) { return r == "14200000"; });
    }

    // Every request, plain and extended, on a fresh connection to each: the replies have
    // the same shape, and the plain state dump is exactly the protocol version.
    const char* requests[] = {"\\dump_state", "\\get_powerstat", "l SWR", "l PWRFORWARD", "\\get_info", "_",
                              "f", "\\set_powerstat 1", "F 14000000", "R 1", "l FOO", "\\set_powerstat 9",
                              "l ?"};
    for (const char* request : requests) {
        for (const std::string& form : {std::string(request), "+" + std::string(request)}) {
            auto ours = connectTo(port);
            auto theirs = connectTo(daemonPort);
            ASSERT_TRUE(ours->ok() && theirs->ok());
            ours->sendRaw(form + "\n");
            theirs->sendRaw(form + "\n");
            const std::string ourReply = wholeReply(*ours, form);
            const std::string theirReply = wholeReply(*theirs, form);
            EXPECT_FALSE(theirReply.empty()) << form;
            EXPECT_EQ(shape(form, theirReply), shape(form, ourReply))
                << form << "\nampctld: " << theirReply << "ours: " << ourReply;
            if (form == "\\dump_state") {
                EXPECT_EQ("0\n", ourReply);
            }
        }
    }
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
}

TEST(HamlibInterop, HamlibKpa1500ClientReadsFrequencyAndSwrAtTwoLoads)
{
    const int port = hamlibtest::freePort();
    const int kpaPort = hamlibtest::freePort();
    HamlibUnit h("hamlib-kpa-client", "Port: " + std::to_string(port) + "\nKpaPort: " + std::to_string(kpaPort) + "\n");
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib KPA1500: listening on 127.0.0.1:" + std::to_string(kpaPort), 60))
        << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("Hamlib: listening on 127.0.0.1:" + std::to_string(port), 5)) << ctl.stderrText();

    LineClient c(port);
    ASSERT_TRUE(c.ok());
    for (const double load : {2.0, 3.0}) {
        h.control("load swr " + std::to_string(load));
        // The board's SWR as the unit reads it, once it has settled on the load.
        const std::string swr = hamlibtest::askUntil(
            c, "l SWR", [&](const std::string& r) { return !r.empty() && std::fabs(std::atof(r.c_str()) - load) < 0.05; });
        ASSERT_LT(std::fabs(std::atof(swr.c_str()) - load), 0.05) << swr << "\n" << ctl.stderrText();
        EXPECT_EQ("14200000", hamlibtest::askUntil(c, "f", [](const std::string& r) { return r == "14200000"; }));

        const hamlibtest::ClientRun run = hamlibtest::runHamlibClient(201, kpaPort, "get_info get_freq get_level SWR");
        EXPECT_EQ(0, run.status) << run.out;
        std::istringstream lines(run.out);
        std::string infoLine, freqLine, swrLine;
        std::getline(lines, infoLine);
        std::getline(lines, freqLine);
        std::getline(lines, swrLine);
        EXPECT_FALSE(infoLine.empty()) << run.out;
        EXPECT_EQ("14200000", freqLine) << run.out;
        // The reply carries the SWR in tenths.
        EXPECT_NEAR(std::round(std::atof(swr.c_str()) * 10) / 10, std::atof(swrLine.c_str()), 0.1001) << run.out;
        EXPECT_NEAR(load, std::atof(swrLine.c_str()), 0.1001) << run.out;
    }
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
}

TEST(HamlibInterop, KpaPortAnswersEveryCommandRaisesTheBoardFaultAndWrites)
{
    const int kpaPort = hamlibtest::freePort();
    HamlibUnit h("hamlib-kpa", "KpaPort: " + std::to_string(kpaPort) + "\nAllowSet: 1\n");
    sim::ControllerProcess ctl(AMPCTL_BIN, h.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("Hamlib KPA1500: listening on 127.0.0.1:" + std::to_string(kpaPort), 60))
        << ctl.stderrText();
    // The ampctld port is off without its own port.
    EXPECT_EQ(std::string::npos, ctl.stderrText().find("Hamlib: listening"));

    LineClient k(kpaPort);
    ASSERT_TRUE(k.ok());
    auto ask = [&](const std::string& command) {
        k.sendRaw(command);
        return k.readUntil(';');
    };
    auto askUntil = [&](const std::string& command, const std::string& wanted) {
        const double end = monoSeconds() + 15;
        std::string reply;
        while ((reply = ask(command)) != wanted && monoSeconds() < end)
            usleep(100000);
        return reply;
    };
    EXPECT_EQ(";", ask(";"));
    EXPECT_EQ("^FR14200;", askUntil("^FR;", "^FR14200;"));
    // 10 W of drive into SWR 2: about 100 W forward, 11 W reflected, 10 W in.
    const std::string fwd = ask("^PWF;");
    ASSERT_EQ(9u, fwd.size()) << fwd;
    EXPECT_NEAR(100, std::atoi(fwd.substr(4, 4).c_str()), 3) << fwd;
    const std::string refl = ask("^PWR;");
    ASSERT_EQ(9u, refl.size()) << refl;
    EXPECT_NEAR(11, std::atoi(refl.substr(4, 4).c_str()), 2) << refl;
    const std::string in = ask("^PWI;");
    ASSERT_EQ(9u, in.size()) << in;
    EXPECT_NEAR(10, std::atoi(in.substr(4, 4).c_str()), 1) << in;
    const std::string peak = ask("^PWK;");
    EXPECT_EQ(0u, peak.rfind("^PWK", 0)) << peak;
    EXPECT_EQ(9u, peak.size()) << peak;
    EXPECT_EQ("^SW020;", askUntil("^SW;", "^SW020;"));
    EXPECT_EQ("^AE1;", ask("^AE;"));
    EXPECT_EQ("^ON1;", ask("^ON;"));
    EXPECT_EQ("^OP1;", askUntil("^OP;", "^OP1;"));
    EXPECT_EQ("^SF00;", ask("^SF;"));

    // A reflected-power fault the board raises.
    h.control("reading fault 2");
    EXPECT_EQ("^SF08;", askUntil("^SF;", "^SF08;"));
    h.control("reading fault 0");

    // Unknown commands: no answer (the next command's reply is the first to come), one log
    // line for the connection.
    // The log line reaches the test through a pipe, so it may come after the reply.
    EXPECT_EQ("^ON1;", ask("^XX;^ZZ1;^ON;"));
    EXPECT_TRUE(ctl.waitForStderr("unknown command \"^XX\"", 5)) << ctl.stderrText();
    EXPECT_EQ(std::string::npos, ctl.stderrText().find("\"^ZZ1\"")) << ctl.stderrText();

    // No stand-by while the amplifier transmits: refused, nothing on the wire.
    size_t mark = h.unit.wireLog().size();
    EXPECT_EQ("^ON1;", ask("^OS0;^ON;"));
    hamlibtest::expectNoSetOnWire(h.unit, mark, {"AB"});
    EXPECT_TRUE(ctl.waitForStderr("\"^OS0\" refused: not possible now", 5)) << ctl.stderrText();

    // Without drive, stand-by and back: the bypass commands on the wire, the state read
    // back (the write asked again until the board no longer reports transmitting).
    h.control("drive 0");
    mark = h.unit.wireLog().size();
    bool standby = false;
    for (const double end = monoSeconds() + 20; !standby && monoSeconds() < end;) {
        k.sendRaw("^OS0;");
        standby = sentAfter(h.unit, mark, {"AB1;"}, 1);
    }
    EXPECT_TRUE(standby) << ctl.stderrText();
    EXPECT_EQ("^OP0;", askUntil("^OP;", "^OP0;"));
    mark = h.unit.wireLog().size();
    k.sendRaw("^OS1;");
    EXPECT_TRUE(sentAfter(h.unit, mark, {"AB0;"})) << ctl.stderrText();
    EXPECT_EQ("^OP1;", askUntil("^OP;", "^OP1;"));

    // Another band: with no carrier on the counter, the set frequency stands and the 40 m
    // row's antenna and pad step go to the board.
    h.control("frequency 0");
    mark = h.unit.wireLog().size();
    k.sendRaw("^FR7100;");
    EXPECT_TRUE(sentAfter(h.unit, mark, {"SA2;", "AT01;"})) << ctl.stderrText();
    EXPECT_EQ("^FR07100;", askUntil("^FR;", "^FR07100;"));
    EXPECT_EQ("^AE2;", askUntil("^AE;", "^AE2;"));

    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
}
