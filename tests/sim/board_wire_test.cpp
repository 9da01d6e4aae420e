// The board on its pseudo-terminal, driven like the controller's link drives it: framing,
// upper-case CRC, the whole command table, fault injection, pacing and the wire log.
#include "sim_unit.h"
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using simtest::Host;
using simtest::ScratchDir;
using simtest::upperCrcOk;

namespace {

struct SimBoardWire : ::testing::Test {
    ScratchDir dir;
    std::unique_ptr<sim::SimUnit> unit;
    std::unique_ptr<Host> host;

    void SetUp() override
    {
        ASSERT_FALSE(dir.path().empty());
        sim::SimOptions o;
        o.pacing = false; // fast by default; the pacing tests turn it on
        unit = std::make_unique<sim::SimUnit>(dir.path(), o);
        host = std::make_unique<Host>(unit->path("dev/ttyAMA0"));
        ASSERT_TRUE(host->ok());
    }
    void TearDown() override
    {
        host.reset();
        unit.reset();
    }
};

std::string text(const std::string& frame)
{
    return frame.size() >= 2 ? frame.substr(2) : frame;
}

} // namespace

TEST_F(SimBoardWire, EveryCommandOfTheLinkTableGetsAnUpperCaseCrcReplyWithItsKeyword)
{
    // The texts of the link's command table, as the controller formats them.
    const char* commands[] = {
        "VSM;", "ST;", "SA1;", "FM;", "FA00014200000;", "MT;", "MT100010000;", "FS00001;",
        "CPFFFF;", "AT00;", "AT01;", "AT10;", "AT11;", "MP0;", "MP1;", "AB0;", "AB1;", "AN0;",
        "TS0000000000000000;", "FN1100;", "PS0001100000000000;", "SF3000000;", "MR0;",
        "GM00020100;", "GS;", "GS0200000000;", "ER0000;", "ER0001;", "ER0002;", "MT180000000;",
        "FN1070;", "MR1;",
    };
    for (const char* c : commands) {
        const std::string reply = host->exchange(c);
        ASSERT_FALSE(reply.empty()) << "no reply to " << c;
        EXPECT_TRUE(upperCrcOk(reply)) << c << " -> " << reply;
        EXPECT_EQ(reply.substr(2, 2), std::string(c).substr(0, 2)) << c << " -> " << reply;
        EXPECT_NE(reply[4], '?') << c << " -> " << reply;
        EXPECT_NE(reply[4], '!') << c << " -> " << reply;
        EXPECT_EQ(reply.back(), ';');
        for (char d : reply.substr(0, 2))
            EXPECT_FALSE(d >= 'a' && d <= 'f') << "lower-case CRC digit in " << reply;
    }
}

TEST_F(SimBoardWire, FirstStatusPollAsTheControllerSendsIt)
{
    EXPECT_EQ(simtest::hostFrame("ST;"), "4dST;");
    const std::string reply = host->exchange("ST;");
    EXPECT_TRUE(upperCrcOk(reply)) << reply;
    EXPECT_EQ(reply.size(), 2u + 37u);
    EXPECT_TRUE(unit->waitForFrame("4dST;", true, 1.0));
    ASSERT_TRUE(unit->waitForFrames(2, 1.0));
    const auto log = unit->wireLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_TRUE(log[0].toBoard);
    EXPECT_EQ(log[0].frame, "4dST;");
    EXPECT_FALSE(log[1].toBoard);
    EXPECT_EQ(log[1].frame, reply);
    EXPECT_LE(log[0].t, log[1].t);
}

TEST_F(SimBoardWire, SettableReadingsAndFrequencyReachTheWire)
{
    sim::StatusReadings r;
    r.rawFwd = 2500;
    r.rawRefl = 300;
    r.rawTherm1 = 2048;
    unit->board().setReadings(r);
    unit->board().setMeasuredFrequency(21150000);
    EXPECT_EQ(text(host->exchange("ST;")).substr(8, 8), "25000300");
    EXPECT_EQ(text(host->exchange("FM;")).substr(3, 11), "00021150000");
}

TEST_F(SimBoardWire, UpperCaseCrcFromTheHostIsAcceptedToo)
{
    host->sendRaw(simtest::upperCrc("FM;") + "FM;");
    EXPECT_TRUE(upperCrcOk(host->readReply()));
}

TEST_F(SimBoardWire, FrameWithWrongCrcGetsNoReply)
{
    host->sendRaw("00ST;");
    EXPECT_EQ(host->drain(0.2), "");
    EXPECT_EQ(unit->board().framesRejected(), 1u);
    // The link is not confused by it.
    EXPECT_TRUE(upperCrcOk(host->exchange("ST;")));
}

TEST_F(SimBoardWire, NoiseBeforeAFrameIsSkipped)
{
    host->sendRaw("\x01\x02" + simtest::hostFrame("VSM;"));
    EXPECT_EQ(text(host->readReply()), "VSM1.07.03;");
}

TEST_F(SimBoardWire, SilenceFaultSwallowsTheNextReplyOnly)
{
    unit->board().injectFault(sim::Fault::silence());
    host->send("ST;");
    EXPECT_EQ(host->drain(0.3), "");
    EXPECT_EQ(unit->board().pendingFaults(), 0u);
    EXPECT_TRUE(upperCrcOk(host->exchange("ST;")));
}

TEST_F(SimBoardWire, RefusalFaultsPutTheirCharacterThird)
{
    for (char c : {'?', '!', '&'}) {
        unit->board().injectFault(sim::Fault::refuse(c));
        const std::string reply = host->exchange("SA2;");
        EXPECT_TRUE(upperCrcOk(reply)) << reply;
        EXPECT_EQ(text(reply), std::string("SA") + c + ";");
    }
    EXPECT_EQ(unit->board().settings().antenna, 2) << "the board applied it all the same";
}

TEST_F(SimBoardWire, WrongCrcFault)
{
    unit->board().injectFault(sim::Fault::wrongCrc());
    const std::string reply = host->exchange("ST;");
    ASSERT_GE(reply.size(), 3u);
    EXPECT_FALSE(upperCrcOk(reply));
    for (char d : reply.substr(0, 2))
        EXPECT_FALSE(d >= 'a' && d <= 'f');
    EXPECT_EQ(text(reply).substr(0, 2), "ST");
}

TEST_F(SimBoardWire, LowerCaseCrcFault)
{
    // A reply whose CRC has a letter digit, so that the case shows.
    std::string command, good;
    for (const char* c : {"ST;", "VSM;", "FM;", "SA1;", "SA2;", "SA3;", "ER0000;", "ER0001;", "ER0002;", "GS;"}) {
        const std::string r = host->exchange(c);
        ASSERT_TRUE(upperCrcOk(r)) << r;
        if (r.substr(0, 2) != simtest::hostFrame(text(r)).substr(0, 2)) {
            command = c;
            good = r;
            break;
        }
    }
    ASSERT_FALSE(command.empty());
    unit->board().injectFault(sim::Fault::lowerCaseCrc());
    const std::string reply = host->exchange(command);
    EXPECT_EQ(reply, simtest::hostFrame(text(good)));
    EXPECT_FALSE(upperCrcOk(reply));
}

TEST_F(SimBoardWire, UnknownKeywordFault)
{
    unit->board().injectFault(sim::Fault::unknownKeyword("QX"));
    const std::string reply = host->exchange("ST;");
    EXPECT_TRUE(upperCrcOk(reply)) << reply;
    EXPECT_EQ(text(reply).substr(0, 2), "QX");
    EXPECT_EQ(text(reply).size(), 37u);
}

TEST_F(SimBoardWire, SplitFaultWritesTheReplyInPiecesWithPauses)
{
    unit->board().injectFault(sim::Fault::split(3, 60));
    const std::string reply = host->exchange("ST;");
    EXPECT_TRUE(upperCrcOk(reply)) << reply;
    EXPECT_GE(host->maxGap, 0.045);
    ASSERT_TRUE(unit->waitForFrames(2, 1.0));
    const auto log = unit->wireLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().frame, reply) << "one log entry for the whole reply";
    EXPECT_GE(log.back().tEnd - log.back().t, 0.1);
}

TEST_F(SimBoardWire, GarbageFaultSendsTheBytesAsTheyAre)
{
    unit->board().injectFault(sim::Fault::garbageBytes("zz;"));
    EXPECT_EQ(host->exchange("ST;"), "zz;");
}

TEST_F(SimBoardWire, PersistentFaultStaysUntilCleared)
{
    unit->board().injectFault(sim::Fault::silence(-1, "FM"));
    for (int i = 0; i < 3; ++i) {
        host->send("FM;");
        EXPECT_EQ(host->drain(0.1), "");
        EXPECT_TRUE(upperCrcOk(host->exchange("ST;"))) << "other commands unaffected";
    }
    EXPECT_EQ(unit->board().pendingFaults(), 1u);
    unit->board().clearFaults();
    EXPECT_TRUE(upperCrcOk(host->exchange("FM;")));
}

TEST_F(SimBoardWire, CountedFaultsApplyInOrder)
{
    unit->board().injectFault(sim::Fault::refuse('&', 2));
    unit->board().injectFault(sim::Fault::wrongCrc(1));
    EXPECT_EQ(text(host->exchange("ST;")), "ST&;");
    EXPECT_EQ(text(host->exchange("ST;")), "ST&;");
    EXPECT_FALSE(upperCrcOk(host->exchange("ST;")));
    EXPECT_TRUE(upperCrcOk(host->exchange("ST;")));
}

TEST_F(SimBoardWire, WithoutPacingRepliesComeAtOnce)
{
    // Seen from the board, the median reply's time from the end of the command to its first
    // byte, and from its first byte to its last.
    const auto medians = [&](bool pacing) {
        unit->board().setPacing(pacing);
        unit->wire().clear();
        const int n = 20;
        for (int i = 0; i < n; ++i)
            EXPECT_FALSE(host->exchange("ST;").empty());
        EXPECT_TRUE(unit->waitForFrames(2 * n, 1.0));
        std::vector<double> spans, starts;
        const auto log = unit->wireLog();
        for (size_t i = 1; i < log.size(); ++i) {
            if (log[i].toBoard || !log[i - 1].toBoard)
                continue;
            spans.push_back(log[i].tEnd - log[i].t);
            starts.push_back(log[i].t - log[i - 1].t);
        }
        EXPECT_EQ(spans.size(), static_cast<size_t>(n));
        std::sort(spans.begin(), spans.end());
        std::sort(starts.begin(), starts.end());
        return std::pair{starts[starts.size() / 2], spans[spans.size() / 2]};
    };
    const auto [pacedStart, pacedSpan] = medians(true);
    const auto [start, span] = medians(false);
    // Unpaced, the reply goes out in one write (a paced one lasts 38 byte times), and it
    // starts sooner than a paced one. A paced reply's first byte waits for the command's
    // 5 bytes and its own time on the line: 6 byte times at least. (How much sooner the
    // unpaced one starts depends on the build: a sanitizer's slow handling of the command
    // can take longer than those 6 byte times, and then only the paced byte's own time
    // is left between them.)
    EXPECT_LT(span, 10 * sim::kByteSeconds);
    EXPECT_GT(pacedSpan, 30 * sim::kByteSeconds);
    EXPECT_GE(pacedStart, 6 * sim::kByteSeconds);
    EXPECT_LT(start, pacedStart);
}

TEST_F(SimBoardWire, PacingSendsAt115200Baud)
{
    unit->board().setPacing(true);
    host->exchange("ST;");
    ASSERT_TRUE(unit->waitForFrames(2, 1.0)); // the board logs a reply once it is all out
    unit->wire().clear();
    const int n = 40;
    for (int i = 0; i < n; ++i) {
        const double sent = monoSeconds();
        host->send("ST;");
        const std::string reply = host->readReply();
        ASSERT_EQ(reply.size(), 39u);
        // The board has the command after its 5 bytes, and the reply's last byte is out
        // 39 byte times later: never sooner, whatever the scheduler does.
        EXPECT_GE(host->lastByte - sent, 44 * sim::kByteSeconds * 0.99);
    }
    // Medians: a loaded machine may delay a few replies, not most of them.
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    // Upper bounds are taken on the board's side only: this reader may be descheduled on a
    // loaded machine, the board's absolute schedule catches up.
    // On the board's side each reply spans 38 byte times from its first byte to its last.
    ASSERT_TRUE(unit->waitForFrames(2 * n, 1.0));
    std::vector<double> spans;
    for (const sim::WireEntry& e : unit->wireLog()) {
        if (e.toBoard)
            continue;
        EXPECT_GE(e.tEnd - e.t, 38 * sim::kByteSeconds * 0.99);
        spans.push_back(e.tEnd - e.t);
    }
    ASSERT_EQ(spans.size(), static_cast<size_t>(n));
    // Slower than the line rate would show as a multiple of it (9600 baud: twelve times); the
    // bound leaves a loaded or instrumented run its scheduling delays.
    EXPECT_LT(median(spans), 2 * 38 * sim::kByteSeconds);
}

TEST_F(SimBoardWire, ReplyDelayIsAddedBeforeTheReply)
{
    unit->board().setReplyDelayMs(30);
    const double t0 = monoSeconds();
    host->exchange("ST;");
    EXPECT_GE(host->firstByte - t0, 0.029);
}

TEST_F(SimBoardWire, WireLogFileHasOneLinePerFrameInBothDirections)
{
    const std::string reply = host->exchange("SA3;");
    unit->board().injectFault(sim::Fault::silence());
    host->send("ST;");
    host->drain(0.1);
    std::ifstream in(unit->wireLogPath());
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string all = ss.str();
    std::istringstream lines(all);
    std::string l1, l2, l3, l4;
    std::getline(lines, l1);
    std::getline(lines, l2);
    std::getline(lines, l3);
    std::getline(lines, l4);
    EXPECT_NE(l1.find(" > " + simtest::hostFrame("SA3;")), std::string::npos) << all;
    EXPECT_NE(l2.find(" < " + reply), std::string::npos) << all;
    EXPECT_NE(l3.find(" > 4dST;"), std::string::npos) << all;
    EXPECT_NE(l4.find(" # fault: silence"), std::string::npos) << all;
    double t = 0;
    EXPECT_EQ(std::sscanf(l1.c_str(), "%lf", &t), 1);
    EXPECT_NEAR(t, monoSeconds(), 10.0) << "monotonic clock time stamps";
}

TEST_F(SimBoardWire, ControllerMayCloseAndReopenThePort)
{
    EXPECT_TRUE(upperCrcOk(host->exchange("ST;")));
    host.reset();
    host = std::make_unique<Host>(unit->path("dev/ttyAMA0"));
    ASSERT_TRUE(host->ok());
    EXPECT_TRUE(upperCrcOk(host->exchange("ST;")));
    // Two frames in one write, a frame in two writes.
    host->sendRaw(simtest::hostFrame("SA2;") + simtest::hostFrame("SA3;"));
    EXPECT_EQ(text(host->readReply()), "SA2;");
    EXPECT_EQ(text(host->readReply()), "SA3;");
    const std::string f = simtest::hostFrame("VSM;");
    host->sendRaw(f.substr(0, 2));
    host->sendRaw(f.substr(2));
    EXPECT_EQ(text(host->readReply()), "VSM1.07.03;");
}

TEST_F(SimBoardWire, WaitForFramesWaitsAndTimesOut)
{
    EXPECT_FALSE(unit->waitForFrames(1, 0.05));
    std::thread t([this] {
        sleepMs(50);
        host->exchange("FM;");
    });
    EXPECT_TRUE(unit->waitForFrame("FM;", true, 2.0, 1, true));
    EXPECT_TRUE(unit->waitForFrames(2, 2.0));
    t.join();
    EXPECT_TRUE(unit->waitForFrames(
        [](const std::vector<sim::WireEntry>& e) { return !e.empty() && !e.back().toBoard; }, 1.0));
}

TEST_F(SimBoardWire, StatusShowsTheSettingsTheHostMade)
{
    host->exchange("MR0;");
    host->exchange("AT10;");
    host->exchange("AB1;");
    const std::string st = text(host->exchange("ST;"));
    EXPECT_EQ(st[2], '8');
    EXPECT_EQ(st[3], '8');
    EXPECT_EQ(st.substr(28, 2), "00");
}

TEST(SimWireLog, EachUnitStartsTheFileAfresh)
{
    simtest::ScratchDir dir;
    {
        sim::SimUnit unit(dir.path());
        Host h(unit.path("dev/ttyAMA0"));
        h.exchange("FM;");
        ASSERT_TRUE(unit.waitForFrames(2, 1.0));
    }
    sim::SimUnit unit(dir.path());
    Host h(unit.path("dev/ttyAMA0"));
    h.exchange("ST;");
    ASSERT_TRUE(unit.waitForFrames(2, 1.0));
    std::ifstream in(unit.wireLogPath());
    std::string first;
    std::getline(in, first);
    EXPECT_NE(first.find(" > 4dST;"), std::string::npos) << first;
}

TEST(SimWireLog, AUnitThatKeepsOnlyTheFileHoldsNoFrameInMemory)
{
    simtest::ScratchDir dir;
    sim::SimOptions o;
    o.keepWireLog = false;
    sim::SimUnit unit(dir.path(), o);
    Host h(unit.path("dev/ttyAMA0"));
    for (int i = 0; i < 50; ++i)
        ASSERT_FALSE(h.exchange("ST;").empty());
    // The board writes a reply's line once its last byte is out: wait for the 100th line.
    size_t lines = 0;
    for (int i = 0; i < 100 && lines < 100; ++i) {
        std::ifstream in(unit.wireLogPath());
        lines = 0;
        for (std::string l; std::getline(in, l);)
            lines += l.find(" > 4dST;") != std::string::npos || l.find(" < ") != std::string::npos;
        if (lines < 100)
            usleep(10 * 1000);
    }
    EXPECT_EQ(lines, 100u);
    EXPECT_EQ(unit.wire().size(), 0u);
    // The CAT port's log likewise: its file gets the exchange, memory nothing.
    Host cat(unit.path("dev/DODUVOV0"));
    cat.sendRaw("DT001;");
    std::string catFile;
    for (int i = 0; i < 200 && catFile.find(" < ") == std::string::npos; ++i) {
        usleep(10 * 1000);
        std::ifstream in(unit.path("sim/cat.log"));
        catFile.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(catFile.find(" > DT001;"), std::string::npos) << catFile;
    EXPECT_NE(catFile.find(" < "), std::string::npos) << catFile;
    EXPECT_EQ(unit.transceivers()->catLog().size(), 0u);
}

TEST(SimWireLog, AFileAtItsLimitGoesOnInASecondOneWithNoLineLostOrCut)
{
    ScratchDir dir;
    const std::string path = dir.path() + "/w.log";
    std::ofstream(path + ".1") << "a file of an earlier run\n";
    const size_t limit = 1000;
    sim::WireLog log;
    ASSERT_TRUE(log.openFile(path, limit));
    EXPECT_FALSE(std::filesystem::exists(path + ".1")); // the earlier run's files go
    const int count = 130; // about three files' worth of lines
    for (int i = 0; i < count; ++i)
        log.add({static_cast<double>(i), i % 2 == 0, "frame" + std::to_string(i) + ";", static_cast<double>(i)});
    std::vector<std::string> frames, notes;
    for (const std::string& name : {path + ".1", path}) {
        ASSERT_TRUE(std::filesystem::exists(name)) << name;
        // A file passes its limit only by its last line.
        EXPECT_LT(std::filesystem::file_size(name), limit + 32) << name;
        std::ifstream in(name);
        for (std::string l; std::getline(in, l);)
            (l.find(" # ") != std::string::npos ? notes : frames).push_back(l);
    }
    // The newest file says where the lines before it are; the two files hold the last
    // frames, whole and in order, up to the newest.
    std::ifstream newest(path);
    std::string first;
    std::getline(newest, first);
    EXPECT_NE(first.find(" # continued from w.log.1"), std::string::npos) << first;
    ASSERT_GE(frames.size(), limit / 20);
    const int from = count - static_cast<int>(frames.size());
    for (size_t k = 0; k < frames.size(); ++k) {
        const int i = from + static_cast<int>(k);
        EXPECT_EQ(frames[k], sim::WireLog::format({static_cast<double>(i), i % 2 == 0,
                                                   "frame" + std::to_string(i) + ";", 0}));
    }
    EXPECT_LE(notes.size(), 2u);
}

TEST(SimWireLog, FormatEscapesBytesOutsidePrintableAscii)
{
    sim::WireEntry e{1.5, false, std::string("AB\x01\\;", 5), 1.6};
    EXPECT_EQ(sim::WireLog::format(e), "1.500000 < AB\\x01\\\\;");
}
