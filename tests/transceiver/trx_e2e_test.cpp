// The real ampctl following a simulated transceiver: the FT-817's frequency across a band
// edge, its silence and garbage; the maker's transceiver's VFOs, a keyed transmit that
// starts a search on its carrier, the tune key's carrier request, the recall of the stored
// tune on the way back, its spectrum on the plot, and the manual-tune carrier's gating: it
// waits for the amplifier's answer to "AN", and once stopped it holds off the automatic
// tune of the next transmission.
#include "platform/clock.h"
#include "trx_station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using trxtest::TrxStation;

const std::string TWO_BANDS_817 = "!817\n40m 7000000 7300000 1 3 1 1 0.0\n20m 14000000 14350000 1 2 0 2 0.0\n";
const std::string TWO_BANDS_IXO = "!Ixo\n40m 7000000 7300000 1 1 0 0 0.0\n20m 14000000 14350000 1 1 0 0 0.0\n";

// The commands the host sent after `from`, without the polls, the fan speed and "AN".
std::vector<std::string> commandsAfter(const std::vector<sim::WireEntry>& log, size_t from)
{
    std::vector<std::string> out;
    for (const std::string& t : hostTexts(log, from))
        if (t != "ST;" && t != "FM;" && t.compare(0, 2, "FN") != 0 && t.compare(0, 2, "AN") != 0)
            out.push_back(t);
    return out;
}

// The last tuner word the host sent after `from` ("" when none).
std::string lastTuneWord(const std::vector<sim::WireEntry>& log, size_t from)
{
    std::string word;
    for (const std::string& t : hostTexts(log, from))
        if (t.compare(0, 3, "MT1") == 0)
            word = t;
    return word;
}

// Waits until the host has sent a tuner word after `from`.
bool waitForTuneWord(TrxStation& s, size_t from, double seconds)
{
    return s.unit().waitForFrames([&](const std::vector<sim::WireEntry>& log) { return !lastTuneWord(log, from).empty(); },
                                  seconds);
}

bool waitForMakerCommand(TrxStation& s, const std::string& command, size_t count, double seconds)
{
    for (double waited = 0; waited < seconds; waited += 0.1) {
        const std::vector<std::string> c = s.ports().makerState().commands();
        if (static_cast<size_t>(std::count(c.begin(), c.end(), command)) >= count)
            return true;
        usleep(100000);
    }
    return false;
}

TEST(TransceiverE2E, Ft817BandEdgeAppliesTheRowOnceAndSilenceGarbageAndShortRepliesRecover)
{
    TrxStation s("e2e-ft817", sim::SerialTransceiver::Ft817, TWO_BANDS_817);
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("FA00007050000;", 0, 20)) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("AT01;", 0, 10));
    sleep(1);

    // Across the band edge: the frequency, then the 20 m row (antenna 2, the tuner's
    // network from the empty memory, 3 dB), each once.
    size_t m = s.mark();
    ASSERT_EQ("", s.control("ft817 freq 14100000"));
    ASSERT_TRUE(s.waitForHost("AT10;", m, 10)) << s.ctl().stderrText();
    sleep(2);
    std::vector<std::string> sent = commandsAfter(s.unit().wireLog(), m);
    sent.erase(std::remove(sent.begin(), sent.end(), "AB0;"), sent.end());
    EXPECT_EQ((std::vector<std::string>{"FA00014100000;", "SA2;", "MT100800000;", "AT10;"}), sent);
    EXPECT_GT(s.ports().ft817State().requests(), 20u) << "polled over and over";

    // Silence: the timeout line, no crash, and the frequency followed again after it.
    ASSERT_EQ("", s.control("ft817 reply silence"));
    ASSERT_TRUE(s.ctl().waitForStderr("TIMEOUT SERIAL CAT", 10)) << s.ctl().stderrText();
    m = s.mark();
    ASSERT_EQ("", s.control("ft817 freq 7100000"));
    sleep(2);
    EXPECT_EQ(0u, s.hostCount("FA00007100000;", m)) << "nothing heard, nothing followed";
    ASSERT_EQ("", s.control("ft817 reply normal"));
    EXPECT_TRUE(s.waitForHost("FA00007100000;", m, 10));

    // Garbage (non-BCD digits): logged with all five bytes, the frequency kept.
    ASSERT_EQ("", s.control("ft817 reply garbage"));
    ASSERT_EQ("", s.control("ft817 freq 14200000"));
    ASSERT_TRUE(s.ctl().waitForStderr("CAT FT817 freq not decoded :  01 4a 00 00 01", 10)) << s.ctl().stderrText();
    m = s.mark();
    sleep(1);
    EXPECT_EQ(0u, s.hostCount("FA00014200000;", m));
    // Short replies: dropped after the timeout; a whole reply after them decodes from an
    // empty buffer.
    const size_t timeouts = s.stderrCount("TIMEOUT SERIAL CAT");
    ASSERT_EQ("", s.control("ft817 reply short"));
    ASSERT_TRUE(s.ctl().waitForStderr("TIMEOUT SERIAL CAT", 10, timeouts + 1));
    ASSERT_EQ("", s.control("ft817 reply normal"));
    EXPECT_TRUE(s.waitForHost("FA00014200000;", m, 15)) << s.ctl().stderrText();
    EXPECT_TRUE(s.ctl().running());
}

TEST(TransceiverE2E, MakerVfosMoveTheFrequencyAndAKeyedTransmitSearchesStoresAndIsRecalled)
{
    TrxStation s("e2e-ixo-key", sim::SerialTransceiver::Maker, TWO_BANDS_IXO, "AutoTuneMode: 1\n");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("FA00014070000;", 0, 20)) << s.ctl().stderrText();

    // VFO B: its frequency; the frames that carry VFO A's meanwhile move nothing.
    size_t m = s.mark();
    ASSERT_EQ("", s.control("trx vfo B"));
    ASSERT_TRUE(s.waitForHost("FA00007100000;", m, 10));
    m = s.mark();
    sleep(2);
    EXPECT_EQ(0u, s.hostCount("FA00014070000;", m));
    ASSERT_EQ("", s.control("trx freq A 14080000"));
    sleep(1);
    EXPECT_EQ(0u, s.hostCount("FA00014080000;", m)) << "VFO A moved while B is active";
    m = s.mark();
    ASSERT_EQ("", s.control("trx vfo M"));
    ASSERT_TRUE(s.waitForHost("FA00003650000;", m, 10));
    m = s.mark();
    ASSERT_EQ("", s.control("trx vfo A"));
    ASSERT_TRUE(s.waitForHost("FA00014080000;", m, 10));
    ASSERT_TRUE(waitForTuneWord(s, m, 10)) << "the 20 m row's tune (none stored yet)";
    sleep(1);

    // Keyed with automatic tuning on: a search on the transceiver's own carrier, stored,
    // and "RX;" ends the transmission.
    const size_t searches = s.stderrCount("START AUTO TUNE");
    m = s.mark();
    // 0.2 W of drive: 2 W out, whose reflection off the untuned network stays below the
    // board's protection threshold.
    ASSERT_EQ("", s.control("trx power 0.2"));
    ASSERT_EQ("", s.control("trx tx on"));
    ASSERT_TRUE(s.ctl().waitForStderr("START AUTO TUNE", 10, searches + 1)) << s.ctl().stderrText();
    ASSERT_TRUE(waitForMakerCommand(s, "RX", 1, 90)) << s.ctl().stderrText();
    EXPECT_FALSE(s.ports().makerState().keyed);
    EXPECT_TRUE(s.ctl().waitForStderr("SENT IXO RX;!", 5));
    const std::string tuned = lastTuneWord(s.unit().wireLog(), m);
    ASSERT_FALSE(tuned.empty());
    EXPECT_NE("MT100800000;", tuned);
    // The memory file of bank 1, antenna 1 holds it.
    EXPECT_NE("", readFile(s.unit().path("opt/set/atu_ant1_b1.txt")));
    sleep(2);

    // To 40 m and back: the stored tune is recalled, no new search.
    m = s.mark();
    ASSERT_EQ("", s.control("trx vfo B"));
    ASSERT_TRUE(s.waitForHost("FA00007100000;", m, 10));
    sleep(1);
    m = s.mark();
    ASSERT_EQ("", s.control("trx vfo A"));
    ASSERT_TRUE(s.waitForHost("FA00014080000;", m, 10));
    ASSERT_TRUE(waitForTuneWord(s, m, 10));
    sleep(1);
    EXPECT_EQ(tuned, lastTuneWord(s.unit().wireLog(), m));
    EXPECT_EQ(searches + 1, s.stderrCount("START AUTO TUNE"));
}

// The spectrum plot's trace: the topmost pixel of its colour inside the grid.
struct TracePeak {
    int x = -1;
    int y = 1000;
};

TracePeak tracePeak(TrxStation& s)
{
    const std::string fb = readFile(s.unit().path("dev/fb0"));
    TracePeak peak;
    if (fb.size() < 800u * 480u * 4u)
        return peak;
    for (int x = 71; x < 758; ++x) {
        for (int y = 60; y <= 230; ++y) {
            const size_t o = (static_cast<size_t>(y) * 800 + static_cast<size_t>(x)) * 4;
            const bool trace = static_cast<unsigned char>(fb[o + 2]) == 250 && fb[o + 1] == 0 &&
                               static_cast<unsigned char>(fb[o]) == 150;
            if (trace && y < peak.y) {
                peak.x = x;
                peak.y = y;
            }
        }
    }
    return peak;
}

TEST(TransceiverE2E, TuneKeyAsksForTheCarrierAndTheSpectrumViewsShowTheToneInPlace)
{
    TrxStation s("e2e-ixo-tune", sim::SerialTransceiver::Maker, TWO_BANDS_IXO, "AutoTuneMode: 1\n");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("trx vfo B"));
    ASSERT_TRUE(s.waitForHost("FA00007100000;", 0, 20)) << s.ctl().stderrText();
    sleep(1);

    // The tune bar, then its tune key: the carrier is asked for, the search runs on it and
    // "RX;" ends it.
    const size_t m = s.mark();
    ASSERT_EQ("", s.control("trx power 0.2"));
    ASSERT_TRUE(s.unit().pressButton(4));
    sleep(1);
    ASSERT_TRUE(s.unit().pressButton(4));
    ASSERT_TRUE(waitForMakerCommand(s, "TX2", 1, 15)) << s.ctl().stderrText();
    const std::vector<std::string> asked = s.ports().makerState().commands();
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ("TU120", asked[asked.size() - 2]);
    EXPECT_TRUE(s.ctl().waitForStderr("SENT IXO TX2;!", 5));
    ASSERT_TRUE(waitForMakerCommand(s, "RX", 1, 90)) << s.ctl().stderrText();
    EXPECT_FALSE(s.ports().makerState().tuneCarrier);
    EXPECT_NE("MT100800000;", lastTuneWord(s.unit().wireLog(), m));
    EXPECT_NE("", readFile(s.unit().path("opt/set/atu_ant1_b1.txt")));
    sleep(2);
    ASSERT_TRUE(s.unit().pressButton(1));  // back to the main bar
    sleep(1);

    // A tone 20 kHz above the operating frequency at -40 dB: on the 160 kHz view at entry
    // 427 + 20000 / 187.4 (x = 70 + 533 / 854 * 688), on the 80 kHz view 213 entries
    // earlier over twice the width; -40 dB on the -110..-10 scale is row 230 - 0.7 * 170.
    ASSERT_EQ("", s.control("trx tone 20000 -40"));
    for (int press = 0; press < 3; ++press) {
        ASSERT_TRUE(s.unit().pressButton(6));
        usleep(400000);
    }
    TracePeak wide;
    for (int attempt = 0; attempt < 50 && (wide.x < 0 || wide.y > 120); ++attempt) {
        usleep(200000);
        wide = tracePeak(s);
    }
    s.screenshot("e2e_spectrum_160k");
    EXPECT_NEAR(499, wide.x, 2);
    EXPECT_NEAR(111, wide.y, 2);
    ASSERT_TRUE(s.unit().pressButton(6));
    TracePeak narrow;
    for (int attempt = 0; attempt < 50 && (narrow.x < 550 || narrow.y > 120); ++attempt) {
        usleep(200000);
        narrow = tracePeak(s);
    }
    s.screenshot("e2e_spectrum_80k");
    EXPECT_NEAR(70 + 320 * 688 / 427, narrow.x, 3);
    EXPECT_NEAR(111, narrow.y, 2);
}

// Whether the board's replies since `from` hold `text` (CRC digits left out).
bool boardReplied(const std::vector<sim::WireEntry>& log, size_t from, const std::string& text)
{
    for (size_t i = from; i < log.size(); ++i)
        if (!log[i].toBoard && log[i].frame.size() > 2 && log[i].frame.compare(2, std::string::npos, text) == 0)
            return true;
    return false;
}

// Presses a key until the controller logs `line` for it: on a loaded machine a short press
// can pass between two polls of the buttons. At most three presses, each waited for.
bool pressLogged(TrxStation& s, int key, const std::string& line)
{
    const size_t before = s.stderrCount(line);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!s.unit().pressButton(key, 200))
            return false;
        if (s.ctl().waitForStderr(line, 5, before + 1))
            return true;
    }
    return false;
}

size_t makerCount(TrxStation& s, const std::string& command)
{
    const std::vector<std::string> c = s.ports().makerState().commands();
    return static_cast<size_t>(std::count(c.begin(), c.end(), command));
}

TEST(TransceiverE2E, ManualCarrierWaitsForTheAnReplyAndOnceStoppedHoldsOffTheAutomaticTune)
{
    TrxStation s("e2e-ixo-carrier", sim::SerialTransceiver::Maker, TWO_BANDS_IXO, "AutoTuneMode: 1\n");
    ASSERT_TRUE(s.waitForScreenLoop()) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("FA00014070000;", 0, 20)) << s.ctl().stderrText();
    ASSERT_EQ("", s.control("trx power 0.2"));
    // Status byte 0 bit 0: the carrier key first sends the amplifier "AN0;". The board lets
    // the first two go unanswered, so its answer comes only with the third, seconds later.
    ASSERT_EQ("", s.control("reading byte0 1"));
    sleep(1);
    ASSERT_EQ("", s.control("fault silence count 2 command AN"));

    // Tune bar, manual tune bar, its transmit key.
    const size_t m = s.mark();
    ASSERT_TRUE(pressLogged(s, 4, "key 4 on bar 0: tune bar")) << s.ctl().stderrText();
    ASSERT_TRUE(pressLogged(s, 6, "key 6 on bar 3: manual tune")) << s.ctl().stderrText();
    ASSERT_TRUE(pressLogged(s, 6, "key 6 on bar 4: transmit")) << s.ctl().stderrText();
    // The carrier is asked for only once the board has answered "AN0;": whenever the
    // transceiver has been asked (looked at first), the answer is already on the wire.
    bool asked = false;
    for (double waited = 0; waited < 30 && !asked; waited += 0.05) {
        asked = makerCount(s, "TX2") > 0;
        const std::vector<sim::WireEntry> log = s.unit().wireLog();
        if (asked) {
            EXPECT_TRUE(boardReplied(log, m, "AN0;")) << "carrier asked for before the amplifier answered AN";
        }
        usleep(50000);
    }
    ASSERT_TRUE(asked) << s.ctl().stderrText();
    EXPECT_GE(s.hostCount("AN0;", m), 3u) << "the two unanswered AN0 were sent again";
    EXPECT_TRUE(s.ctl().waitForStderr("SENT IXO TX2...", 5));

    // The carrier stopped with the same key: "RX;" to the transceiver. The operator keys
    // at once; the automatic tune of that transmission waits 30 frames of it (each frame
    // sleeps 60 ms), so the search's first command ("MP1;") comes no sooner than 1.8 s
    // after the key.
    const size_t searches = s.stderrCount("START AUTO TUNE");
    ASSERT_TRUE(pressLogged(s, 6, "key 6 on bar 4: transmit")) << s.ctl().stderrText();
    ASSERT_TRUE(waitForMakerCommand(s, "RX", 1, 15)) << s.ctl().stderrText();
    ASSERT_TRUE(s.ctl().waitForStderr("SENT IXO RX...", 5));
    const size_t keyed = s.mark();
    const double tKeyed = monoSeconds();
    ASSERT_EQ("", s.control("trx tx on"));
    ASSERT_TRUE(s.ctl().waitForStderr("START AUTO TUNE", 30, searches + 1)) << s.ctl().stderrText();
    ASSERT_TRUE(s.waitForHost("MP1;", keyed, 10)) << "the search's first command on the wire";
    double tSearch = -1;
    const std::vector<sim::WireEntry> log = s.unit().wireLog();
    for (size_t i = keyed; i < log.size() && tSearch < 0; ++i)
        if (log[i].toBoard && log[i].frame.size() > 2 && log[i].frame.compare(2, std::string::npos, "MP1;") == 0)
            tSearch = log[i].t;
    ASSERT_GT(tSearch, 0) << "the search's first command on the wire";
    EXPECT_GE(tSearch - tKeyed, 1.5) << "the search started before the stopped carrier's hold-off ran out";
    ASSERT_EQ("", s.control("trx tx off"));
}

} // namespace

