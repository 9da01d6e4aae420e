// The real ampctl streaming from the simulated USB receiver (the libusb stand-in of the
// simulated unit), its spectrum lines read by a remote peer as "SP" frames: tones at their
// bins and levels for both transform sizes, the divider, the reader's end and restart when
// the transfers fail or the receiver leaves the bus, and its start-up on the bus: only the
// receiver is taken (not another gadget of its vendor number), the transforms are planned
// before the stream starts, and the FIFO is stopped, initialised and enabled in order.
#include "controller_process.h"
#include "remote/hamlib_test_util.h"
#include "remote/ws_peer.h"
#include "sim_unit.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr double RATE = 192000;
constexpr float GLOBAL_OFFSET = 15.4f;  // 6 dB of gain in the controller's scaling

// A simulated unit with the receiver (and, with foreignProduct, another gadget of its
// vendor number) and the controller started on it with the USB spectrum on.
struct UsbStation {
    UsbStation(const std::string& name, const std::string& setupExtra, uint16_t foreignProduct = 0)
        : unit(freshTempDir(name)), port(hamlibtest::freePort())
    {
        sim::UsbReceiverSettings s;
        s.foreignProduct = foreignProduct;
        s.rate = RATE;
        s.globalOffset = GLOBAL_OFFSET;
        s.noiseDbfs = -110;
        s.tones.clear();
        unit.usbReceiver().set(s);
        writeFile(unit.path("opt/set/setup.txt"),
                  "EnableFFT: 1\nTcpPort: " + std::to_string(port) + "\n" + setupExtra);
        ctl = std::make_unique<sim::ControllerProcess>(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
    }
    ~UsbStation()
    {
        ctl->terminate();
        EXPECT_EQ(0, ctl->waitExit(30));
        unit.stop();
        std::filesystem::remove_all(unit.root());
    }
    void setTones(const std::vector<sim::UsbTone>& tones, double stepHz = 0)
    {
        sim::UsbReceiverSettings s = unit.usbReceiver().settings();
        s.tones = tones;
        s.stepHz = stepHz;
        unit.usbReceiver().set(s);
    }
    size_t stderrCount(const std::string& text) const
    {
        const std::string all = ctl->stderrText();
        size_t n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    }
    // Until error 5 has been added to the error list `times` times in all.
    bool waitForError5(size_t times)
    {
        for (double waited = 0; waited < 15; waited += 0.1) {
            size_t n = 0;
            for (const std::string& l : lines(ctl->stderrText()))
                n += l.rfind("Add: N: ", 0) == 0 && l.size() > 6 && l.compare(l.size() - 6, 6, " err:5") == 0;
            if (n >= times)
                return true;
            usleep(100000);
        }
        return false;
    }
    static std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> out;
        size_t pos = 0;
        for (size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
            out.push_back(text.substr(pos, end - pos));
        return out;
    }
    sim::SimUnit unit;
    int port;
    std::unique_ptr<sim::ControllerProcess> ctl;
};

uint32_t be32(const std::string& s, size_t at)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24
        | static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16
        | static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8
        | static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

// The next whole spectrum line: its 512-byte "SP" chunks from offset 0 up to the total.
std::optional<std::vector<uint8_t>> readLine(wstest::Peer& peer, double timeout = 5)
{
    const double end = monoSeconds() + timeout;
    std::vector<uint8_t> line;
    uint32_t next = 0;
    bool started = false;
    while (monoSeconds() < end) {
        const auto f = peer.readTagged("SP", end - monoSeconds());
        if (!f || f->data.size() != 520)
            return std::nullopt;
        const uint32_t total = be32(f->data, 0), offset = be32(f->data, 4);
        if (offset == 0) {
            line.assign(total, 0);
            started = true;
        } else if (!started || offset != next || total != line.size()) {
            started = false;
            continue;
        }
        const size_t n = std::min<size_t>(512, total - offset);
        std::copy_n(f->data.begin() + 8, n, line.begin() + offset);
        next = offset + 512;
        if (next >= total)
            return line;
    }
    return std::nullopt;
}

// The line index of a tone (the transform keeps every second bin of the middle part).
int lineIndex(int points, double hz)
{
    const double bin = hz * points / RATE;
    const int position = static_cast<int>(std::lround(bin)) + points / 2;
    return (position - (points == 4096 ? 341 : 170)) / 2;
}

// A tone's level in the line, in dB (the byte less 192): its level in full scale, the
// receiver's gain and the window's coherent gain (sum of its coefficients over half the
// points).
double expectedDb(int points, double dbfs)
{
    double sum = 0;
    for (int i = 1; i < points; ++i) {
        const double x = 2 * M_PI * i / (points - 1);
        sum += 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    }
    return dbfs + (21.4 - GLOBAL_OFFSET) + 20 * std::log10(sum / (points / 2));
}

int peakIndex(const std::vector<uint8_t>& line)
{
    return static_cast<int>(std::max_element(line.begin(), line.end()) - line.begin());
}

// Lines until one of `length` bytes holds the tone at `index` (settings take a moment).
std::optional<std::vector<uint8_t>> lineWithPeak(wstest::Peer& peer, size_t length, int index, double timeout = 10)
{
    const double end = monoSeconds() + timeout;
    while (monoSeconds() < end) {
        auto line = readLine(peer);
        if (!line)
            return std::nullopt;
        if (line->size() == length && peakIndex(*line) == index)
            return line;
    }
    return std::nullopt;
}

void expectTones(const std::vector<uint8_t>& line, int points, const std::vector<sim::UsbTone>& tones)
{
    std::vector<int> at;
    for (const sim::UsbTone& t : tones) {
        const int k = lineIndex(points, t.hz);
        at.push_back(k);
        EXPECT_NEAR(192 + expectedDb(points, t.dbfs), line[static_cast<size_t>(k)], 1.0)
            << points << " points, tone " << t.hz << " Hz at index " << k;
    }
    // Away from the tones only the noise floor, far under the weakest tone.
    const int weakest = line[static_cast<size_t>(at.back())];
    for (size_t k = 0; k < line.size(); ++k) {
        bool near = false;
        for (int a : at)
            near = near || std::abs(static_cast<int>(k) - a) <= 6;
        if (!near) {
            ASSERT_LT(line[k], weakest - 40) << points << " points, index " << k;
        }
    }
}

// The divider set by `command`, seen in the lines: the tone (from toneHz) moves by one
// index a block (the step is two bins), so consecutive lines show it moved by the divider.
// The last 15 moves seen well inside the line must all be the divider.
void expectDivider(UsbStation& st, wstest::Peer& peer, const char* command, size_t length, double toneHz,
                   double stepHz, int divider)
{
    ASSERT_TRUE(peer.send(wstest::shortFrame("ST", command)));
    st.setTones({{toneHz, -30}}, stepHz);
    std::vector<int> seen;
    int last = -1;
    for (int i = 0; i < 30 + 15 * divider / 2; ++i) {
        const auto line = readLine(peer);
        ASSERT_TRUE(line && line->size() == length) << command;
        const int k = peakIndex(*line);
        const bool inside = k > 20 && k < static_cast<int>(length) - 20;
        if (last >= 0 && inside && k > last)
            seen.push_back(k - last);
        last = inside ? k : -1;
    }
    ASSERT_GE(seen.size(), 15u) << command;
    EXPECT_EQ(divider, *std::min_element(seen.end() - 15, seen.end())) << command;
    EXPECT_EQ(divider, *std::max_element(seen.end() - 15, seen.end())) << command;
}

} // namespace

TEST(UsbSpectrumE2e, TonesAtTheirBinsAndLevelsForBothSizesAndDividers)
{
    UsbStation st("usb-spectrum", "Divide: 1\nEnable1600: 0\n");
    // Even bins of 2048 (the 2048-point line keeps even positions): 12 kHz is bin 128,
    // -30 kHz bin -320.
    const std::vector<sim::UsbTone> small = {{12000, -30}, {-30000, -55}};
    st.setTones(small);
    ASSERT_TRUE(st.ctl->waitForStderr("SYN transfer starting", 60)) << st.ctl->stderrText();

    wstest::Peer peer(st.port);
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.login("quintabrezza"));
    auto line = lineWithPeak(peer, 854, lineIndex(2048, 12000), 15);
    ASSERT_TRUE(line) << "no 854-byte line with the tone";
    expectTones(*line, 2048, small);

    // Dividers 1 and 4.
    expectDivider(st, peer, "ZOLTFD1", 854, -60000, 187.5, 1);
    expectDivider(st, peer, "ZOLTFD4", 854, -60000, 187.5, 4);

    // 4096 points ("ZOLTFT02", which also raises a divider of 1 to 2; here it stays 4):
    // odd bins, 1706 bytes. 12046.875 Hz is bin 257, -30046.875 Hz bin -641.
    const std::vector<sim::UsbTone> large = {{12046.875, -20}, {-30046.875, -60}};
    st.setTones(large);
    ASSERT_TRUE(peer.send(wstest::shortFrame("ST", "ZOLTFT02")));
    line = lineWithPeak(peer, 1706, lineIndex(4096, 12046.875));
    ASSERT_TRUE(line) << "no 1706-byte line with the tone";
    expectTones(*line, 4096, large);

    // Divider 2 at 4096 points: a step of 93.75 Hz is two bins there, one index.
    expectDivider(st, peer, "ZOLTFD2", 1706, -60046.875, 93.75, 2);

    // Back to 2048 points between two blocks: the next lines are 854 bytes again.
    st.setTones(small);
    ASSERT_TRUE(peer.send(wstest::shortFrame("ST", "ZOLTFT01")));
    line = lineWithPeak(peer, 854, lineIndex(2048, 12000));
    ASSERT_TRUE(line);
    expectTones(*line, 2048, small);
}

TEST(UsbSpectrumE2e, TransferErrorsAndUnplugEndTheReaderForTheRemoteRestart)
{
    UsbStation st("usb-unplug", "");
    st.setTones({{12000, -30}});
    ASSERT_TRUE(st.ctl->waitForStderr("SYN transfer starting", 60)) << st.ctl->stderrText();
    EXPECT_EQ(0u, st.stderrCount(">>> RESTART REMOTE"));

    // Every transfer times out (after its 2 s): the 11th in a row ends the reader with
    // error 5, the device released and closed.
    ASSERT_EQ("", st.unit.usbReceiver().apply({"fault", "timeout"}));
    ASSERT_TRUE(st.ctl->waitForStderr("libusb_err_counter (11)", 30)) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("IXORead end", 10));
    ASSERT_TRUE(st.waitForError5(1)) << st.ctl->stderrText();
    EXPECT_GE(st.stderrCount("CB result: Timedout"), 11u);
    // The interface released and the device closed once the transfers are back.
    std::string log;
    for (int i = 0; i < 100 && log.find("release 0\nclose\n") == std::string::npos; ++i) {
        usleep(100000);
        log = readFile(st.unit.path("sim/usb.log"));
    }
    EXPECT_NE(std::string::npos, log.find("release 0\nclose\n")) << log;

    // The error key's remote restart finds the reader ended on its own (remoteThreadExited
    // 1 with remote operation active) and starts it again; it streams again.
    ASSERT_EQ("", st.unit.usbReceiver().apply({"fault", "none"}));
    ASSERT_TRUE(st.unit.pressButton(1));
    ASSERT_TRUE(st.ctl->waitForStderr(">>> RESTART REMOTE: 1 1", 10)) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("SYN transfer starting", 20, 2)) << st.ctl->stderrText();

    // Unplugged: the next submit fails with no device and ends the reader at once.
    ASSERT_EQ("", st.unit.usbReceiver().apply({"unplug"}));
    ASSERT_TRUE(st.ctl->waitForStderr("libusb_submit_transfer failed (-4)", 10)) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("IXORead end", 10, 2));
    ASSERT_TRUE(st.waitForError5(2));

    // A restart while it is still unplugged finds no receiver and ends again; once it is
    // back, the next restart streams.
    ASSERT_TRUE(st.unit.pressButton(1));
    ASSERT_TRUE(st.ctl->waitForStderr(">>> RESTART REMOTE: 1 1", 10, 2)) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("Cannot find KRP Device", 20)) << st.ctl->stderrText();
    ASSERT_TRUE(st.waitForError5(3));
    // It comes back with a global offset no receiver can have: 0 dB is used instead, so
    // the samples stay numbers.
    ASSERT_EQ("", st.unit.usbReceiver().apply({"offsets", "1e30", "3", "-20"}));
    ASSERT_EQ("", st.unit.usbReceiver().apply({"plug"}));
    ASSERT_TRUE(st.unit.pressButton(1));
    ASSERT_TRUE(st.ctl->waitForStderr(">>> RESTART REMOTE: 1 1", 10, 3)) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("Global Offset out of range, 0 used", 20)) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("SYN transfer starting", 20, 3)) << st.ctl->stderrText();
}

// Position of the first line of the log after `from` that starts with `text` (npos: none).
size_t logLine(const std::string& log, const std::string& text, size_t from = 0)
{
    for (size_t at = log.find(text, from); at != std::string::npos; at = log.find(text, at + 1))
        if (at == 0 || log[at - 1] == '\n')
            return at;
    return std::string::npos;
}

TEST(UsbSpectrumE2e, OnlyTheReceiverIsTakenPlannedAndItsFifoStartedBeforeTheStream)
{
    // A debug probe of the same vendor number (product 0x6018, its kernel driver bound) is
    // listed before the receiver.
    UsbStation st("usb-foreign", "Divide: 1\nEnable1600: 0\n", 0x6018);
    st.setTones({{12000, -30}});
    ASSERT_TRUE(st.ctl->waitForStderr("SYN transfer starting", 60)) << st.ctl->stderrText();
    wstest::Peer peer(st.port);
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.login("quintabrezza"));
    ASSERT_TRUE(lineWithPeak(peer, 854, lineIndex(2048, 12000), 15)) << "the receiver streams";

    const std::string log = readFile(st.unit.path("sim/usb.log"));
    EXPECT_EQ(std::string::npos, log.find("1d50:6018")) << "the other gadget was touched:\n" << log;
    EXPECT_EQ(std::string::npos, log.find("detach")) << log;
    EXPECT_NE(std::string::npos, logLine(log, "open 1d50:6150")) << log;
    EXPECT_TRUE(st.ctl->waitForStderr("1d50:6018 is not the receiver, left alone", 1));
    // The FIFO stopped, initialised, then enabled (answered 0xE9), and only then streaming.
    const size_t stop = logLine(log, "control C0 E1 0000 E900 1 -> 1");
    const size_t init = logLine(log, "control C0 E1 0000 E800 1 -> 1", stop);
    const size_t enable = logLine(log, "control C0 E1 0001 E900 1 -> 1", init);
    const size_t stream = logLine(log, "stream", enable);
    ASSERT_NE(std::string::npos, stop) << log;
    EXPECT_NE(std::string::npos, init) << log;
    EXPECT_NE(std::string::npos, enable) << log;
    EXPECT_NE(std::string::npos, stream) << log;
    EXPECT_EQ(0u, st.stderrCount("Enable SYN failed"));
    // Both transforms planned before the FIFO starts filling, not when the first line is due.
    const std::string err = st.ctl->stderrText();
    const size_t planned = err.find("Spectrum transforms planned (2048 and 4096 points)");
    ASSERT_NE(std::string::npos, planned) << err;
    EXPECT_LT(planned, err.find("Stop FIFO"));

    // The receiver leaves the bus; the restart finds only the other gadget and leaves it
    // alone as well. (The error key restarts the remote group only once start-up has
    // finished, which the screen loop's start tells.)
    ASSERT_TRUE(st.ctl->waitForStderr("Timer thread started", 60)) << st.ctl->stderrText();
    ASSERT_EQ("", st.unit.usbReceiver().apply({"present", "0"}));
    ASSERT_TRUE(st.waitForError5(1)) << st.ctl->stderrText();
    // The error key (pressed again if a loaded machine let the press pass between polls).
    bool restarted = false;
    for (int press = 0; press < 3 && !restarted; ++press) {
        ASSERT_TRUE(st.unit.pressButton(1, 200));
        restarted = st.ctl->waitForStderr(">>> RESTART REMOTE: 1 1", 10);
    }
    ASSERT_TRUE(restarted) << st.ctl->stderrText();
    ASSERT_TRUE(st.ctl->waitForStderr("Cannot find KRP Device", 20)) << st.ctl->stderrText();
    const std::string after = readFile(st.unit.path("sim/usb.log"));
    EXPECT_EQ(std::string::npos, after.find("1d50:6018")) << after;
    EXPECT_EQ(std::string::npos, after.find("detach")) << after;
}
