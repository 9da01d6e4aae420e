// The wire log decoder: every command the controller's link can send is named with its
// number and fields, the board's replies decode, CRC failures and odd frames are flagged.
#include "amp_board.h"
#include "amplifier/amp_test_util.h"
#include "amplifier/link.h"
#include "controller_process.h"
#include "sim/sim_test_util.h"
#include "sim_unit.h"
#include "wire_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

sim::WireEntry frameEntry(std::string frame, bool toBoard, double t = 0)
{
    sim::WireEntry e;
    e.frame = std::move(frame);
    e.toBoard = toBoard;
    e.t = t;
    return e;
}

std::string field(const sim::DecodedFrame& f, const std::string& name)
{
    for (const auto& [k, v] : f.fields)
        if (k == name)
            return v;
    return "<none>";
}

bool hasNumber(const sim::DecodedFrame& f, int n)
{
    return std::find(f.commands.begin(), f.commands.end(), n) != f.commands.end();
}

} // namespace

// The link's own sending code writes each command of its table into a pipe; the decoder
// names each with its number and reads the fields back.
TEST(WireDecode, EveryCommandTheLinkSendsIsNamedWithItsNumber)
{
    auto works = freshWorks();
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    works->linFD = fds[1];
    works->antenna = 1;
    works->frequency = 14200000;
    works->anState = 1;
    works->fanPercent = 55;
    works->fanPercentCPU = 35;
    works->attenuator = 2;
    works->tsPar[1] = 3000;
    works->sfValue = 0xA5;
    works->tuneval = (1u << 23) | 0x1234;
    std::snprintf(works->impostazioniGenerali, sizeof works->impostazioniGenerali, "0000000000");

    const int table[] = {0, 1, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                         23, 24, 27, 28, 30, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41};
    std::map<int, sim::DecodedFrame> decoded;
    for (int n : table) {
        sendLinearCommand(works.get(), n);
        char buf[128];
        const ssize_t got = read(fds[0], buf, sizeof buf);
        ASSERT_GT(got, 2) << "command " << n << " wrote nothing";
        const sim::DecodedFrame f = sim::decodeFrame(frameEntry(std::string(buf, static_cast<size_t>(got)), true));
        EXPECT_EQ(f.crc, sim::CrcState::Ok) << f.frame;
        EXPECT_TRUE(f.shapeOk) << f.frame;
        EXPECT_TRUE(hasNumber(f, n)) << "command " << n << " decoded as " << sim::formatDecoded(f);
        decoded[n] = f;
    }
    close(fds[0]);
    close(fds[1]);

    EXPECT_EQ(field(decoded[7], "antenna"), "2");
    EXPECT_EQ(field(decoded[9], "hz"), "14200000");
    EXPECT_EQ(field(decoded[14], "3dB"), "on");
    EXPECT_EQ(field(decoded[14], "2dB"), "off");
    EXPECT_EQ(field(decoded[21], "state"), "1");
    EXPECT_EQ(field(decoded[22], "t2"), "3000");
    EXPECT_EQ(field(decoded[23], "percent"), "55");
    EXPECT_EQ(field(decoded[41], "percent"), "35");
    EXPECT_EQ(field(decoded[28], "value"), "a5");
    EXPECT_EQ(field(decoded[40], "mode"), "CL");  // the tuner reset leaves the CL bit alone
    EXPECT_EQ(field(decoded[39], "mode"), "bypass");
    EXPECT_EQ(decoded[30].name, "firmware update mode");
    EXPECT_EQ(decoded[36].name, "identity block 0");
    EXPECT_EQ(decoded[38].name, "identity block 2");
}

TEST(WireDecode, RepliesOfTheBoardDecodeAndBadCrcsAreFlagged)
{
    sim::AmpBoardState board;
    sim::StatusReadings r;
    r.rawIn = 12;
    r.rawFwd = 1234;
    r.rawRefl = 321;
    r.transmitting = true;
    r.faultByte = 0x51; // I OUT, FILTER TX, band warning: low nibble goes first on the wire
    board.setReadings(r);
    const std::string status = sim::AmpBoard::frame(*board.execute("ST;"));
    sim::DecodedFrame f = sim::decodeFrame(frameEntry(status, false));
    EXPECT_EQ(f.crc, sim::CrcState::Ok);
    EXPECT_EQ(f.name, "reply: status");
    EXPECT_EQ(field(f, "fwd"), "1234");
    EXPECT_EQ(field(f, "refl"), "321");
    EXPECT_EQ(field(f, "state"), "TX");
    EXPECT_EQ(field(f, "faults"), "I-OUT,FILTER-TX,BAND,RESET");

    f = sim::decodeFrame(frameEntry(sim::AmpBoard::frame(*board.execute("VSM;")), false));
    EXPECT_EQ(field(f, "version"), "1.07.03");
    f = sim::decodeFrame(frameEntry(sim::AmpBoard::frame(*board.execute("ER0002;")), false));
    EXPECT_EQ(f.name, "reply: identity block");
    EXPECT_EQ(field(f, "block"), "2");

    // A wrong CRC names the right one; lower-case letters in a reply's CRC are flagged
    // even when the value matches, but a command may carry them.
    std::string bad = status;
    bad[0] = bad[0] == '0' ? '1' : '0';
    f = sim::decodeFrame(frameEntry(bad, false));
    EXPECT_EQ(f.crc, sim::CrcState::Mismatch);
    EXPECT_EQ(f.crcExpected, status.substr(0, 2));
    EXPECT_EQ(field(f, "fwd"), "1234"); // decoded all the same
    f = sim::decodeFrame(frameEntry("4dST;", false));
    EXPECT_EQ(f.crc, sim::CrcState::LowerCase);
    EXPECT_EQ(f.crcExpected, "4D");
    EXPECT_EQ(sim::decodeFrame(frameEntry("4dST;", true)).crc, sim::CrcState::Ok);
    EXPECT_EQ(sim::decodeFrame(frameEntry("4DST;", true)).crc, sim::CrcState::Ok);

    f = sim::decodeFrame(frameEntry(sim::AmpBoard::frame("ST?;"), false));
    EXPECT_EQ(f.name, "refused (?)");
    f = sim::decodeFrame(frameEntry(sim::AmpBoard::frame("ZZ1;"), false));
    EXPECT_FALSE(f.shapeOk);
    EXPECT_EQ(f.name, "unknown keyword ZZ");
    f = sim::decodeFrame(frameEntry(sim::AmpBoard::frame("SA12;"), true));
    EXPECT_FALSE(f.shapeOk);
    EXPECT_EQ(f.name, "malformed SA");
    f = sim::decodeFrame(frameEntry(sim::AmpBoard::frame("ST00;"), false)); // a status reply cut short
    EXPECT_FALSE(f.shapeOk);
    f = sim::decodeFrame(frameEntry("#\x01~", false));
    EXPECT_EQ(f.crc, sim::CrcState::Missing);
    EXPECT_EQ(f.name, "not a frame");
}

// Lines as wire.log holds them: escapes undone, gaps and reply times, notes, other lines.
TEST(WireDecode, LogLinesGiveGapsReplyTimesAndNotes)
{
    sim::WireDecoder d;
    EXPECT_FALSE(d.line("not a wire log line"));
    EXPECT_FALSE(d.line(""));
    auto cmd = d.line("10.000000 > 4dST;");
    ASSERT_TRUE(cmd);
    EXPECT_LT(cmd->gapMs, 0); // the first frame has no gap
    auto reply = d.line("10.004000 < " + sim::AmpBoard::frame("ST?;"));
    ASSERT_TRUE(reply);
    EXPECT_NEAR(reply->gapMs, 4.0, 1e-6);
    EXPECT_NEAR(reply->replyMs, 4.0, 1e-6);
    EXPECT_EQ(reply->commands, std::vector<int>{1});
    auto note = d.line("10.005000 # fault: silence (no reply to FM)");
    ASSERT_TRUE(note);
    EXPECT_TRUE(note->isNote);
    EXPECT_EQ(note->name, "fault: silence (no reply to FM)");
    auto garbage = d.line("10.010000 < #\\x01~\\\\");
    ASSERT_TRUE(garbage);
    EXPECT_EQ(sim::unprintable("#\\x01~\\\\"), std::string("#\x01~\\"));
    EXPECT_EQ(garbage->frame, "#\\x01~\\\\"); // printed back as the log has it
    EXPECT_NEAR(garbage->gapMs, 6.0, 1e-6);
    // Text after the frame: a reply to FM whose 11 digits hold the counter.
    auto fm = d.line("10.020000 < " + sim::AmpBoard::frame("FM000014200000;"));
    ASSERT_TRUE(fm);
    EXPECT_EQ(field(*fm, "hz"), "14200000");
    EXPECT_NE(sim::formatDecoded(*fm).find("hz=14200000"), std::string::npos);
}

// A run of the real controller: its wire log decodes frame by frame with the board's
// initialisation named command by command, and a reply sent with a wrong CRC is flagged by
// the decoder and by the wirelog tool.
TEST(WireDecode, RealRunLogDecodesAndTheToolFlagsTheBadCrc)
{
    simtest::ScratchDir dir;
    sim::SimUnit unit(dir.path() + "/root");
    {
        sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
        ASSERT_TRUE(unit.waitForFrame("MR0;", true, 30, 1, true)) << "the board's initialisation did not end";
        const size_t before = unit.wireLog().size();
        unit.board().injectFault(sim::Fault::wrongCrc(1, "ST"));
        ASSERT_TRUE(unit.waitForFrames(before + 12, 10));
        ctl.terminate();
        ctl.waitExit(30);
    }
    unit.stop();

    std::ifstream in(unit.wireLogPath());
    sim::WireDecoder decoder;
    std::set<int> sent;
    size_t frames = 0, bad = 0, notes = 0;
    std::string line;
    while (std::getline(in, line)) {
        const auto f = decoder.line(line);
        ASSERT_TRUE(f) << line;
        if (f->isNote) {
            ++notes;
            continue;
        }
        ++frames;
        EXPECT_TRUE(f->shapeOk) << sim::formatDecoded(*f);
        EXPECT_FALSE(f->commands.empty()) << sim::formatDecoded(*f);
        if (f->crc != sim::CrcState::Ok) {
            ++bad;
            EXPECT_EQ(f->crc, sim::CrcState::Mismatch);
            EXPECT_EQ(f->name, "reply: status");
        }
        if (f->toBoard && f->commands.size() == 1)
            sent.insert(f->commands[0]);
    }
    EXPECT_GT(frames, 40u);
    EXPECT_EQ(bad, 1u);
    EXPECT_GE(notes, 1u); // the simulator's note of the injected fault
    for (int n : {0, 1, 7, 8, 12, 13, 17, 21, 24, 32, 33, 34, 36, 37, 38})
        EXPECT_TRUE(sent.count(n)) << "command " << n << " not seen in the run";

    const std::string command = std::string(WIRELOG_BIN) + " --problems " + unit.wireLogPath();
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << out;
    EXPECT_NE(out.find("crc BAD (want "), std::string::npos) << out;
    EXPECT_NE(out.find(", 1 bad CRC, 0 malformed"), std::string::npos) << out;
    EXPECT_EQ(out.find("> 4dST;"), std::string::npos) << "--problems lists only the problems:\n" << out;
}
