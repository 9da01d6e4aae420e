// Automatic tuning end to end: the link thread of this process against the simulated board
// over its pseudo-terminal. The board's physics reads the tuner word through its L network
// into the antenna on the selected output (a 40 m dipole on output 1, a 5 m vertical on 2,
// an end-fed wire on 3). Complete, preset and fine searches run one step per status reply
// with the new tuner word after each; their results land in the tuner file of the bank and
// antenna and come back on a later band change; the cycle limit, a best SWR above 6.0 and
// the tune button during a run store nothing; a board that trips its SWR protection during
// the search costs a protection reset per tripped step; a band change applies the
// antenna-table row.
//
// The screen loop and the transceiver links do not run in this program yet, so the tests do
// their part: they set txOn as the transceiver link would while transmitting, apply a
// frequency change as the screen loop does (Station::bandChange), and press TUNE by calling
// GoTune as the button thread does.
#include "amplifier/amp_test_util.h"
#include "amplifier/filters.h"
#include "amplifier/thresholds.h"
#include "antenna_loads.h"
#include "board_physics.h"
#include "config/banks.h"
#include "config/antenna_table.h"
#include "core/setup.h"
#include "platform/clock.h"
#include "sim_unit.h"
#include "support/sim_root.h"
#include "support/wire.h"
#include "tuner/autotune.h"
#include "tuner/search_climb.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"
#include "tuning_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int BANK = 2;
constexpr double DRIVE_WATTS = 5.0;     // 50 W forward with the board's 10 dB
constexpr int CMD_FREQUENCY = 9;        // "FA%011lu;"

// Every band row calibrates alike: 1000 W at raw 4000 forward, 250 W at 4000 reflected,
// 10 W at 1000 input. The limits keep the board's own protection out of the searches (a
// reflected limit of 200 W against 50 W forward), except on 17 m, where 5 W reflected trips
// it. Presets L0 C0 .. L4 C4 and the step close each row; 512 marks an absent preset.
constexpr double K_FWD = 1000.0 / (4000.0 * 4000.0);
constexpr double K_REFL = 250.0 / (4000.0 * 4000.0);
constexpr double K_IN = 10.0 / (1000.0 * 1000.0);
const char* const CONFIG_TXT =
    "; start stop, fwd refl in (W raw), kDir, limits pwIn current refl fwd, presets L C, step\n"
    "1800000 2000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 20 30 60 90 140 180 260 300 420 460 4\n"
    "7000000 7300000 1000 4000 250 4000 10 1000 0 30 30 200 1100 20 30 60 90 140 180 260 300 420 460 4\n"
    "14000000 14350000 1000 4000 250 4000 10 1000 0 30 30 200 1100 2 2 8 16 16 30 512 512 512 512 2\n"
    "18000000 18168000 1000 4000 250 4000 10 1000 0 30 30 5 1100 8 4 16 14 24 20 512 512 512 512 2\n"
    "21000000 21450000 1000 4000 250 4000 10 1000 0 30 30 200 1100 8 4 16 14 24 20 512 512 512 512 2\n"
    "24890000 24990000 1000 4000 250 4000 10 1000 0 30 30 200 1100 8 4 16 14 24 20 512 512 512 512 2\n"
    "28000000 29700000 1000 4000 250 4000 10 1000 0 30 30 200 1100 512 512 512 512 512 512 512 512 512 512 2\n";
// Thresholds of the rows with the 200 W limit: input 1732, forward 4095 (limited), reflected
// 3577, current 4095.
const char* const ROW_THRESHOLDS = "TS1732409535774095;";
const char* const TUNE_THRESHOLDS = "TS4095409535774095;";

// Bank 2: 160 m on output 2 with tuner and amplifier bypassed; 40 m, 20 m, 17 m, 15 m (3 dB
// pad) and 12 m with tuner and amplifier in line on outputs 3, 2, 1, 1, 3.
const char* const ANTENNA_TXT =
    "!Gen\n"
    "160m 1800000 2000000 0 2 1 0 0.0\n"
    "80m 3500000 4000000 0 1 1 0 0.0\n"
    "60m 5330500 5450000 0 1 1 0 0.0\n"
    "40m 7000000 7300000 1 3 0 0 0.0\n"
    "30m 10100000 10150000 0 1 1 0 0.0\n"
    "20m 14000000 14350000 1 2 0 0 0.0\n"
    "17m 18068000 18168000 1 1 0 0 0.0\n"
    "15m 21000000 21450000 1 1 0 2 0.0\n"
    "12m 24890000 24990000 1 3 0 0 0.0\n"
    "10m 28000000 29700000 0 1 1 0 0.0\n"
    "6m 50000000 54000000 0 1 1 0 0.0\n";

double trueSwr(uint32_t word, int output, uint32_t hz)
{
    const double f = static_cast<double>(hz);
    return sim::tunerNetwork(word, f, sim::antennaOnOutput(output).impedance(f)).swr;
}

bool waitFor(const std::function<bool()>& done, double seconds)
{
    const double end = monoSeconds() + seconds;
    while (!done()) {
        if (monoSeconds() > end)
            return false;
        sleepMs(2);
    }
    return true;
}

size_t countFrom(const std::vector<sim::WireEntry>& log, size_t from, const std::string& text)
{
    size_t n = 0;
    for (size_t i = from; i < log.size(); i++)
        n += log[i].toBoard && log[i].frame.size() >= 2 && log[i].frame.compare(2, std::string::npos, text) == 0;
    return n;
}

bool isTuneWordText(const std::string& t)
{
    return t.size() == 12 && t.compare(0, 3, "MT1") == 0 && t.back() == ';';
}

uint32_t wordOf(const std::string& t)
{
    return static_cast<uint32_t>(std::stoul(t.substr(3, 8), nullptr, 16));
}

std::string wordText(uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "MT1%08X;", word);
    return text;
}

// A tuner file line as the file holds it.
std::string tuneLine(int slot, uint32_t hz, uint32_t word)
{
    char line[64];
    std::snprintf(line, sizeof line, "%d %u 1 %d %d %d\n", slot, hz, DecodeModoFromTuneval(word),
                  DecodeInduttanzaFromTuneval(word), DecodeCapacitaFromTuneval(word));
    return line;
}

std::string tuneFile(int output)
{
    return "opt/set/atu_ant" + std::to_string(output) + "_b" + std::to_string(BANK) + ".txt";
}

// The host texts of one automatic tune, from the press of TUNE on.
struct TuneRun {
    std::vector<std::string> before;  // before the start burst: polls and at most one word
    std::vector<std::string> burst;   // the start burst
    std::vector<uint32_t> words;      // the word sent after each step's status poll
    int errorPolls = 0;               // status polls answered with "CPFFFF;" instead of a step
    std::vector<std::string> after;   // after the last step
    std::string log;                  // the controller's log lines meanwhile
    double seconds = 0;
};

void splitRun(const std::vector<std::string>& texts, TuneRun& run)
{
    const auto mp1 = std::find(texts.begin(), texts.end(), "MP1;");
    run.before.assign(texts.begin(), mp1);
    size_t i = static_cast<size_t>(mp1 - texts.begin());
    for (size_t n = 0; n < 5 && i < texts.size(); ++n)
        run.burst.push_back(texts[i++]);
    for (; i + 1 < texts.size() && texts[i] == "ST;"; i += 2) {
        if (isTuneWordText(texts[i + 1]))
            run.words.push_back(wordOf(texts[i + 1]));
        else if (texts[i + 1] == "CPFFFF;")
            run.errorPolls++;
        else
            break;
    }
    run.after.assign(texts.begin() + static_cast<long>(i), texts.end());
}

// A word the searches may send: one network side, no bypass, no reserved or unused bits.
bool searchWord(uint32_t word)
{
    const uint32_t side = word & TUNE_MODE_BITS;
    const uint32_t known = 0x00BFFFFEu & ~(1u << 17) & ~(1u << 22);
    return (side == TUNE_BIT_SIDE_A || side == TUNE_BIT_SIDE_B) && (word & ~known) == 0;
}

// One tuner measurement as the controller logs it: "SWR %05.2f FWD %05.2f ... T %08x".
struct Measurement {
    int ampError = 0;
    double swr = 0;
    double forward = 0;
    uint32_t word = 0;
};

std::vector<Measurement> measurements(const std::string& log)
{
    std::vector<Measurement> out;
    for (size_t at = log.find(") Err "); at != std::string::npos; at = log.find(") Err ", at + 1)) {
        const size_t end = log.find('\n', at);
        const std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        Measurement m;
        unsigned word = 0;
        if (std::sscanf(line.c_str(), ") Err %d SWR %lf FWD %lf L %*d C %*d T %x", &m.ampError, &m.swr, &m.forward,
                        &word) == 4) {
            m.word = word;
            out.push_back(m);
        }
    }
    return out;
}

// The simulated unit with the antennas on its outputs, and the link thread of a works record
// that has read the test's config.txt and bank 2.
class Station {
public:
    explicit Station(const std::string& name) : root_(name), unit_(root_.root())
    {
        root_.write("opt/set/config.txt", CONFIG_TXT);
        root_.write("opt/set/antenna_b2.txt", ANTENNA_TXT);
        setSlot(setup_.LinPort, "/dev/ttyAMA0");
        works_->setup = &setup_;
        physics_.setCalibration({K_FWD, K_REFL, K_IN, 0.0});
        physics_.setTimeScale(0);  // temperatures stay put: no thermal protection here
        physics_.setDrivePower(DRIVE_WATTS);
        unit_.board().state().setPhysics([this](const sim::BoardSettings& s, sim::StatusReadings& r) {
            if (s.antenna != hookOutput_) {
                hookOutput_ = s.antenna;
                physics_.setReflection(sim::loadThroughTuner(sim::antennaOnOutput(s.antenna)));
            }
            physics_.apply(s, r);
        });
    }
    ~Station()
    {
        if (link_.joinable()) {
            works_->running = 0;
            link_.join();
        }
        unit_.board().state().setPhysics({});
        unit_.stop();
    }

    // What main does before the link runs (band table, current bank, board initialisation),
    // then the link; true once the board has answered "CPFFFF;" and the queue is worked off.
    bool start()
    {
        Works* w = works();
        ReadConfigFile(w);
        w->numBanco = BANK;
        LoadAllBankTable(w, BANK);
        w->autoTuneMode = 1;  // "AUTO TUNE" on
        w->txOn = 1;          // the transceiver transmits while the searches run
        InitMicroCmd(w);
        link_ = std::thread(Linear, w);
        return waitFor([w] { return !(w->cpFlag & 1) && cmdQueueEmpty(w); }, 10) && polls(2);
    }

    // Started, unpaced, at one frequency, ready for a complete search.
    bool startAt(uint32_t hz)
    {
        if (!start())
            return false;
        unit_.board().setPacing(false);
        bandChange(hz);
        setup_.AutoTuneTipo = '0';
        return settle();
    }

    Works* works() { return works_.get(); }
    TestRoot& root() { return root_; }
    sim::SimUnit& unit() { return unit_; }
    Orvosetup& setup() { return setup_; }
    size_t mark() { return unit_.wireLog().size(); }
    std::vector<std::string> sentSince(size_t from) { return hostTexts(unit_.wireLog(), from); }

    bool polls(int count)
    {
        const size_t from = mark();
        return unit_.waitForFrames([&](const auto& log) { return countFrom(log, from, "ST;") >= size_t(count); }, 10);
    }
    // Until `count` tuner words have gone out since `from`.
    bool wordsSent(size_t from, long count)
    {
        return unit_.waitForFrames(
            [&](const auto& log) {
                const std::vector<std::string> t = hostTexts(log, from);
                return std::count_if(t.begin(), t.end(), isTuneWordText) >= count;
            },
            20);
    }
    // The queue worked off and two more status replies, so everything queued is on the wire.
    bool settle()
    {
        return waitFor([this] { return cmdQueueEmpty(works()); }, 10) && polls(2);
    }

    // What the screen loop does when the frequency differs from the one last applied: the
    // frequency to the board, the filter, the thresholds, the antenna-table row; the fine
    // search is no longer allowed.
    void bandChange(uint32_t hz)
    {
        Works* w = works();
        w->frequency = hz;
        IncPNTIn_CMDLinear(CMD_FREQUENCY, w);
        SetFilterFromfreq(w);
        SearchCambioSoglie_TS(w);
        GestioneAntennaAutomatica(w);
        w->lastFrequency = hz;
        w->fineTuneOk = 0;
    }

    // Presses TUNE and waits for the end of the tune; returns the run as the wire shows it.
    TuneRun tune()
    {
        TuneRun run;
        const size_t from = mark();
        testing::internal::CaptureStderr();
        const double t0 = monoSeconds();
        GoTune(works());
        // The link starts the tune at its next status reply and ends it when the search does.
        const bool started = waitFor([this] { return works()->tuneStatus != 0; }, 10);
        const bool ended = started && waitFor([this] { return works()->tuneStatus == 0; }, 90);
        run.seconds = monoSeconds() - t0;
        const bool settled = settle();
        run.log = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ended) << "the tune did not end";
        EXPECT_TRUE(settled);
        splitRun(sentSince(from), run);
        return run;
    }

    // The board's SWR as its forward and reflected power stand after the last status reply.
    double boardSwr() const
    {
        const sim::PhysicsTruth t = physics_.truth();
        const double gamma = t.forward > 0 ? std::sqrt(t.reflected / t.forward) : 1.0;
        return gamma >= 1.0 ? 100.0 : std::min(100.0, (1 + gamma) / (1 - gamma));
    }

private:
    TestRoot root_;
    sim::SimUnit unit_;
    sim::BoardPhysics physics_;
    int hookOutput_ = 0;  // the output whose load the physics holds (board thread only)
    Orvosetup setup_{};
    std::unique_ptr<Works> works_ = freshWorks(false);
    std::thread link_;
};

// The wire of one tune: the burst of the start, then each step a status poll followed by the
// tuner word (or, after a step that saw the amplifier's error flag, by "CPFFFF;"), then (once
// idle again) a status poll and the live attenuator back.
void expectStepsOnTheWire(const TuneRun& run, const std::string& liveAttenuator, bool ampErrors = false,
                          const std::string& tuneThresholds = TUNE_THRESHOLDS)
{
    if (!ampErrors) {
        EXPECT_EQ(0, run.errorPolls);
    }
    for (const std::string& t : run.before)
        EXPECT_TRUE(t == "ST;" || t == "FM;" || isTuneWordText(t)) << t;
    EXPECT_LE(std::count_if(run.before.begin(), run.before.end(), isTuneWordText), 1);
    EXPECT_EQ((std::vector<std::string>{"MP1;", "AT00;", tuneThresholds, "CPFFFF;", "MP0;"}), run.burst);
    ASSERT_FALSE(run.words.empty());
    for (uint32_t word : run.words)
        EXPECT_TRUE(searchWord(word)) << std::hex << word;
    ASSERT_GE(run.after.size(), 2u);
    EXPECT_EQ("ST;", run.after[0]);
    EXPECT_EQ(liveAttenuator, run.after[1]);
    EXPECT_EQ(0, std::count_if(run.after.begin(), run.after.end(), isTuneWordText)) << "no word after the end";
}

// Every measurement the tuner logged against the board's truth for the word it names: each
// step measures the status reply to the word sent after the step before it.
size_t expectMeasurementsOfTheSentWords(const TuneRun& run, int output, uint32_t hz)
{
    const std::vector<Measurement> ms = measurements(run.log);
    for (const Measurement& m : ms) {
        if (m.ampError) {
            EXPECT_EQ(100.0, m.swr) << "a step that saw the amplifier's error flag counts as SWR 100";
            continue;
        }
        const double truth = trueSwr(m.word, output, hz);
        EXPECT_NEAR(truth, m.swr, 0.03 + 0.05 * truth) << std::hex << m.word;
        EXPECT_NEAR(50.0, m.forward, 1.0);
        EXPECT_TRUE(std::find(run.words.begin(), run.words.end(), m.word) != run.words.end())
            << "measured a word never sent: " << std::hex << m.word;
    }
    return ms.size();
}

struct Scenario {
    const char* band;
    uint32_t hz;
    int output;  // antenna output of the band's row, and the load on it
    int slot;    // tune-memory slot of the frequency
    bool paced;
    int presets[3][2];  // the presets in use of the band's config.txt row, {L, C}
};

uint32_t presetWord(const int (&preset)[2], int mode)
{
    return tunewordWithMode(tunewordWithC(tunewordWithL(0, preset[0]), preset[1]), mode);
}

// The preset search tries every preset in use on both sides, starting with preset 0 on
// side B, and never an absent one.
void expectPresetsTried(const TuneRun& run, const Scenario& sc)
{
    ASSERT_FALSE(run.words.empty());
    EXPECT_EQ(presetWord(sc.presets[0], TUNE_MODE_CL), run.words[0]);
    for (const auto& preset : sc.presets)
        for (int mode : {TUNE_MODE_CL, TUNE_MODE_LC})
            EXPECT_NE(run.words.end(), std::find(run.words.begin(), run.words.end(), presetWord(preset, mode)))
                << preset[0] << " " << preset[1] << " mode " << mode;
    for (uint32_t word : run.words)
        EXPECT_FALSE(DecodeInduttanzaFromTuneval(word) == 511 && DecodeCapacitaFromTuneval(word) == 511);
}

} // namespace

TEST(AutoTuneLink, SearchesStoreByBankAndAntennaAndBandChangesRecall)
{
    Station st("tune-link-searches");
    ASSERT_TRUE(st.start());
    Works* w = st.works();
    const Scenario scenarios[] = {
        {"15m dipole", 21200000, 1, 3820, true, {{8, 4}, {16, 14}, {24, 20}}},
        {"20m vertical", 14200000, 2, 3130, false, {{2, 2}, {8, 16}, {16, 30}}},
        {"12m end-fed", 24950000, 3, 3973, false, {{8, 4}, {16, 14}, {24, 20}}},
    };
    struct Search {
        const char* name;
        char tipo;
        bool fine;
    };
    const Search searches[] = {{"complete", '0', false}, {"preset", '1', false}, {"fine", '0', true}};
    uint32_t stored[3] = {};
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.band);
        st.unit().board().setPacing(sc.paced);
        size_t from = st.mark();
        st.bandChange(sc.hz);
        ASSERT_TRUE(st.settle());
        // Nothing stored yet: the network is zeroed (side B, all relays off).
        std::vector<std::string> arrival = st.sentSince(from);
        EXPECT_EQ(1, std::count_if(arrival.begin(), arrival.end(), isTuneWordText));
        EXPECT_EQ(1, std::count(arrival.begin(), arrival.end(), "MT100800000;"));
        EXPECT_EQ(sc.output, st.unit().board().settings().antenna);

        double previous = 0;
        for (const Search& s : searches) {
            SCOPED_TRACE(s.name);
            st.setup().AutoTuneTipo = s.tipo;
            if (s.fine) {
                EXPECT_EQ(1, w->fineTuneOk) << "the stored tune allows the fine search";
            } else {
                w->fineTuneOk = 0;  // the complete-tune button
            }
            const uint32_t startWord = w->tuneval;
            const TuneRun run = st.tune();
            expectStepsOnTheWire(run, sc.output == 1 ? "AT10;" : "AT00;");
            if (s.tipo == '1') {
                expectPresetsTried(run, sc);
            } else {
                ASSERT_GE(run.words.size(), 2u);
                EXPECT_EQ(startWord, run.words[0]) << "the first step only starts the search";
                if (!s.fine) {
                    EXPECT_EQ(TUNE_BIT_SIDE_B, run.words[1]) << "side B, all relays off";
                }
            }
            const size_t measured = expectMeasurementsOfTheSentWords(run, sc.output, sc.hz);
            EXPECT_GE(measured + 10, run.words.size()) << "steps without a measurement are the few setup states";
            ASSERT_FALSE(run.words.empty());
            const uint32_t last = run.words.back();
            EXPECT_EQ(last, w->tuneval);
            EXPECT_EQ(last, st.unit().board().settings().tuneWord);

            // Stored in the slot of the frequency, in the file of bank 2 and this antenna only.
            EXPECT_EQ(tuneLine(sc.slot, sc.hz, last), st.root().read(tuneFile(sc.output)));
            const TuneMemEntry e = tuneMemoryOf(w, sc.output - 1)[sc.slot];
            EXPECT_EQ(1, e.present);
            EXPECT_EQ(DecodeInduttanzaFromTuneval(last), e.induttanza);
            EXPECT_EQ(DecodeCapacitaFromTuneval(last), e.capacita);
            EXPECT_EQ(1, w->fineTuneOk);
            EXPECT_EQ(-1, ExistAnError(w));

            // What the controller believes is what the board has.
            ASSERT_TRUE(st.polls(3));
            const double board = st.boardSwr();
            EXPECT_NEAR(trueSwr(last, sc.output, sc.hz), board, 1e-6);
            EXPECT_NEAR(board, miglioretuneParam.swr, 0.02 + 0.03 * board);
            EXPECT_NEAR(board, w->swr, 0.02 + 0.03 * board);
            EXPECT_LT(board, 1.5) << "a good match";
            if (s.fine) {
                EXPECT_LE(board, previous + 0.02) << "the fine search never ends worse than its start";
            }
            previous = board;
            std::printf("[ tune     ] %-13s %-8s SWR %.3f after %3zu polls in %.2f s (%s)\n", sc.band, s.name, board,
                        run.words.size(), run.seconds, sc.paced ? "paced" : "unpaced");
            stored[sc.output - 1] = last;
        }
    }
    // Each antenna's tune went to its own file of bank 2, and nowhere else.
    for (const char* other : {"opt/set/atu_ant1.txt", "opt/set/atu_ant2.txt", "opt/set/atu_ant3.txt",
                              "opt/set/atu_ant1_b1.txt", "opt/set/atu_ant1_b3.txt"})
        EXPECT_FALSE(st.root().exists(other)) << other;

    // Back to each frequency from another band: one word, the stored one, and no search.
    st.unit().board().setPacing(true);
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.band);
        const size_t from = st.mark();
        st.bandChange(sc.hz);
        ASSERT_TRUE(st.settle());
        ASSERT_TRUE(st.polls(3));
        const std::vector<std::string> sent = st.sentSince(from);
        EXPECT_EQ(1, std::count_if(sent.begin(), sent.end(), isTuneWordText));
        EXPECT_EQ(1, std::count(sent.begin(), sent.end(), wordText(stored[sc.output - 1])));
        EXPECT_EQ(0, std::count(sent.begin(), sent.end(), "MP1;")) << "no search";
        EXPECT_EQ(0, std::count(sent.begin(), sent.end(), "CPFFFF;")) << "no search";
        EXPECT_EQ(0, w->tuneStatus);
        EXPECT_NEAR(trueSwr(stored[sc.output - 1], sc.output, sc.hz), st.boardSwr(), 1e-6);
        EXPECT_NEAR(st.boardSwr(), w->swr, 0.02 + 0.03 * st.boardSwr());
    }
}

TEST(AutoTuneLink, AbortCycleLimitAndMaxSwrStoreNothing)
{
    // 40 m on output 3, the end-fed wire at 7.1 MHz: its half-wave resonance puts a few
    // kilo-ohms on the tuner, and the complete search ends above SWR 6 there.
    constexpr uint32_t HZ = 7100000;
    constexpr int OUTPUT = 3;
    constexpr int SLOT = 2120;
    Station st("tune-link-failures");
    ASSERT_TRUE(st.startAt(HZ));
    Works* w = st.works();
    const auto nothingStored = [&] {
        EXPECT_FALSE(st.root().exists(tuneFile(OUTPUT)));
        EXPECT_EQ(0, tuneMemoryOf(w, OUTPUT - 1)[SLOT].present);
        EXPECT_EQ(0, w->fineTuneOk);
    };

    {
        SCOPED_TRACE("tune button during the run");
        const size_t from = st.mark();
        testing::internal::CaptureStderr();
        GoTune(w);
        ASSERT_TRUE(st.wordsSent(from, 12));
        ASSERT_EQ(1, w->tuneStatus);
        const size_t pressed = st.mark();
        GoTune(w);
        EXPECT_TRUE(waitFor([w] { return w->tuneStatus == 0; }, 5)) << "ended at the next status reply";
        ASSERT_TRUE(st.settle());
        ASSERT_TRUE(st.polls(3));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, log.find("esc tune TUNEMENU"));
        const std::vector<std::string> after = st.sentSince(pressed);
        EXPECT_LE(std::count_if(after.begin(), after.end(), isTuneWordText), 1) << "at most the step under way";
        EXPECT_EQ(1, std::count(after.begin(), after.end(), "AT00;")) << "the live attenuator back";
        nothingStored();
        // Aborted with the best so far above 6.0: "Max SWR" as at any end.
        EXPECT_EQ(miglioretuneParam.swr > 6.0f, ExistError(w, 18) == 1);
        DeleteErrore(w, 18);
    }
    {
        SCOPED_TRACE("cycle limit");
        w->autoTuneMaxCicli = 4;  // 100 measurements
        w->swrEscAutoTune = 0;
        const TuneRun run = st.tune();
        expectStepsOnTheWire(run, "AT00;");
        EXPECT_NE(std::string::npos, run.log.find("max cicli-> esco"));
        // 100 measurements and the few setup steps before them.
        EXPECT_GE(run.words.size(), 101u);
        EXPECT_LE(run.words.size(), 106u);
        EXPECT_EQ(1, ExistError(w, 12));
        EXPECT_EQ(0, ExistError(w, 13));
        // Protection on after the attenuator of the end: "MP1;" and the highest step.
        EXPECT_EQ((std::vector<std::string>{"ST;", "AT00;", "ST;", "MP1;", "ST;", "AT11;"}),
                  std::vector<std::string>(run.after.begin(), run.after.begin() + std::min<size_t>(6, run.after.size())));
        EXPECT_TRUE(st.unit().board().settings().protection);
        EXPECT_EQ(3, st.unit().board().settings().attenuatorCode);
        // The best setting is applied, not stored.
        EXPECT_EQ(miglioretuneParam.tuneval, run.words.back());
        nothingStored();
        std::printf("[ tune     ] 40m end-fed   cycle limit after %zu polls in %.2f s, best SWR %.2f\n",
                    run.words.size(), run.seconds, static_cast<double>(miglioretuneParam.swr));
        DeleteErrore(w, 12);
        DeleteErrore(w, 18);
    }
    {
        SCOPED_TRACE("best above 6.0");
        w->autoTuneMaxCicli = 0;  // 600 measurements
        const TuneRun run = st.tune();
        expectStepsOnTheWire(run, "AT00;");
        expectMeasurementsOfTheSentWords(run, OUTPUT, HZ);
        EXPECT_FALSE(st.unit().board().settings().protection) << "the start burst switched it off";
        EXPECT_NE(std::string::npos, run.log.find("ERRORE MAX TUNE"));
        EXPECT_EQ(1, ExistError(w, 18));
        EXPECT_EQ(0, ExistError(w, 12));
        ASSERT_TRUE(st.polls(3));
        EXPECT_GT(st.boardSwr(), 6.0);
        EXPECT_NEAR(st.boardSwr(), miglioretuneParam.swr, 0.05 * st.boardSwr());
        nothingStored();
        std::printf("[ tune     ] 40m end-fed   complete SWR %.2f after %zu polls in %.2f s: not stored\n",
                    st.boardSwr(), run.words.size(), run.seconds);
    }
}

TEST(AutoTuneLink, BandChangeAppliesTheRowInOrder)
{
    Station st("tune-link-rows");
    // A tune for 21.2 MHz on antenna 1 of bank 2, read by the bank load.
    st.root().write(tuneFile(1), "3820 21200000 1 1 12 9\n");
    ASSERT_TRUE(st.start());
    Works* w = st.works();
    const auto change = [&](uint32_t hz) {
        const size_t from = st.mark();
        st.bandChange(hz);
        EXPECT_TRUE(st.settle());
        std::vector<std::string> sent;
        for (const std::string& t : st.sentSince(from))
            if (t != "ST;" && t != "FM;")
                sent.push_back(t);
        return sent;
    };
    ASSERT_EQ(0, w->antenna);
    ASSERT_EQ(0, w->ampBypass);

    // 20 m: output 2, no tune stored for antenna 2 there: the network zeroed. The band row
    // of the thresholds is the one already in force.
    EXPECT_EQ((std::vector<std::string>{"FA00014200000;", "SA2;", "MT100800000;"}), change(14200000));
    // 160 m: the same output, tuner bypassed (only the mode bits change), amplifier bypassed.
    EXPECT_EQ((std::vector<std::string>{"FA00001900000;", ROW_THRESHOLDS, "MT100010000;", "AB1;"}),
              change(1900000));
    EXPECT_EQ(1, w->atuBypass);
    EXPECT_TRUE(st.unit().board().settings().bypass);
    // 15 m: output 1, the stored tune recalled, amplifier in line, the 3 dB pad.
    const uint32_t recalled = tunewordWithMode(tunewordWithC(tunewordWithL(0, 12), 9), TUNE_MODE_CL);
    EXPECT_EQ((std::vector<std::string>{"FA00021200000;", ROW_THRESHOLDS, "SA1;", wordText(recalled), "AB0;",
                                        "AT10;"}),
              change(21200000));
    EXPECT_EQ(0, w->atuBypass);
    EXPECT_EQ(7, w->antennaRowIdx);
    const sim::BoardSettings s = st.unit().board().settings();
    EXPECT_EQ(1, s.antenna);
    EXPECT_EQ(recalled, s.tuneWord);
    EXPECT_FALSE(s.bypass);
    EXPECT_EQ(2, s.attenuatorCode);
    // Another slot of the same segment recalls the same tune.
    EXPECT_EQ((std::vector<std::string>{"FA00021250000;", wordText(recalled)}), change(21250000));
    // Outside every row: only the frequency goes out.
    EXPECT_EQ((std::vector<std::string>{"FA00030000000;"}), change(30000000));
    EXPECT_EQ(100, w->antennaRowIdx);
}

TEST(AutoTuneLink, AmplifierErrorDuringTheSearchCountsAsSwr100)
{
    // 17 m on output 1, the dipole at 18.1 MHz, with a reflected limit of 5 W: every setting
    // worse than SWR 1.9 or so trips the board's SWR protection while the search runs.
    constexpr uint32_t HZ = 18100000;
    Station st("tune-link-trip");
    ASSERT_TRUE(st.startAt(HZ));
    Works* w = st.works();
    const TuneRun run = st.tune();
    // The burst lifts the input limit only: the reflected limit of 5 W (raw 565) stays.
    expectStepsOnTheWire(run, "AT00;", true, "TS4095409505654095;");
    const std::vector<Measurement> ms = measurements(run.log);
    const long tripped = std::count_if(ms.begin(), ms.end(), [](const Measurement& m) { return m.ampError != 0; });
    EXPECT_GT(tripped, 20);
    // Each tripped step sent its word; the status poll after it "CPFFFF;" instead of a step.
    EXPECT_EQ(tripped, run.errorPolls);
    expectMeasurementsOfTheSentWords(run, 1, HZ);

    // The search still finds the match, and the protection is quiet there.
    ASSERT_TRUE(st.polls(3));
    const double board = st.boardSwr();
    EXPECT_LT(board, 1.5);
    EXPECT_NEAR(board, miglioretuneParam.swr, 0.02 + 0.03 * board);
    EXPECT_EQ(tuneLine(3520, HZ, run.words.back()), st.root().read(tuneFile(1)));
    EXPECT_EQ(0, ExistError(w, 1));
    EXPECT_FALSE(st.unit().board().readings().swrTrip);
    std::printf("[ tune     ] 17m dipole    complete SWR %.3f after %zu steps and %d protection resets in %.2f s\n",
                board, run.words.size(), run.errorPolls, run.seconds);
}

TEST(AutoTuneLink, StartAndEndAskedForByOtherThreadsAreCarriedOutByTheLink)
{
    // The screen loop and the buttons ask for a tune and for its end from threads of their
    // own while the link runs; the link starts and ends the search itself, so the wire is
    // that of any tune, and (under ThreadSanitizer) no search state is touched by two
    // threads. Meanwhile a reader polls the shared values the way the screen does.
    constexpr uint32_t HZ = 21200000;  // 15 m, the dipole on output 1, the 3 dB pad
    constexpr int SLOT = 3820;
    Station st("tune-link-requests");
    ASSERT_TRUE(st.startAt(HZ));
    Works* w = st.works();
    std::atomic<bool> reading{true};
    std::thread screen([w, &reading] {
        double sum = 0;
        while (reading) {
            sum += w->swr + w->pwrFwd + static_cast<double>(w->tuneval) + w->tuneStatus + w->frequency;
            sleepMs(1);
        }
        EXPECT_GE(sum, 0.0);
    });
    const auto fromAnotherThread = [](const std::function<void()>& call) { std::thread(call).join(); };

    {
        SCOPED_TRACE("asked for by another thread, ended by the search");
        const size_t from = st.mark();
        testing::internal::CaptureStderr();
        fromAnotherThread([w] { StartAutotune(w); });
        const bool started = waitFor([w] { return w->tuneStatus != 0; }, 10);
        const bool ended = started && waitFor([w] { return w->tuneStatus == 0; }, 90);
        const bool settled = st.settle();
        TuneRun run;
        run.log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(ended);
        ASSERT_TRUE(settled);
        splitRun(st.sentSince(from), run);
        expectStepsOnTheWire(run, "AT10;");
        expectMeasurementsOfTheSentWords(run, 1, HZ);
        ASSERT_FALSE(run.words.empty());
        EXPECT_EQ(tuneLine(SLOT, HZ, run.words.back()), st.root().read(tuneFile(1)));
        EXPECT_EQ(1, w->fineTuneOk);
    }
    {
        SCOPED_TRACE("asked for and ended by other threads");
        const std::string stored = st.root().read(tuneFile(1));
        const size_t from = st.mark();
        fromAnotherThread([w] { StartAutotune(w); });
        ASSERT_TRUE(st.wordsSent(from, 6));
        ASSERT_EQ(1, w->tuneStatus);
        const size_t asked = st.mark();
        fromAnotherThread([w] { EscAutoTune(w, 0); });
        EXPECT_TRUE(waitFor([w] { return w->tuneStatus == 0; }, 5)) << "ended at the next status reply";
        ASSERT_TRUE(st.settle());
        ASSERT_TRUE(st.polls(3));
        const std::vector<std::string> after = st.sentSince(asked);
        EXPECT_LE(std::count_if(after.begin(), after.end(), isTuneWordText), 1) << "at most the step under way";
        EXPECT_EQ(1, std::count(after.begin(), after.end(), "AT10;")) << "the live attenuator back";
        EXPECT_EQ(stored, st.root().read(tuneFile(1))) << "an end without saving stores nothing";
        EXPECT_EQ(0x04, w->autoTuneMode & 0x04) << "a run has ended";
    }
    reading = false;
    screen.join();
}

TEST(AutoTuneLink, ClimbSearchStoresOnEachAntennaAndBandChangesRecall)
{
    // The climbing search ("AutoTuneTipo" '2') on the three antennas: each tune ends close to
    // the best the network can do there, within a hundred polls, in the file of bank 2 and its
    // antenna; back from another band, the stored word comes back without a search.
    Station st("tune-link-climb");
    ASSERT_TRUE(st.start());
    Works* w = st.works();
    st.setup().AutoTuneTipo = TUNE_TIPO_CLIMB;
    const Scenario scenarios[] = {
        {"15m dipole", 21200000, 1, 3820, true, {}},
        {"20m vertical", 14200000, 2, 3130, false, {}},
        {"12m end-fed", 24950000, 3, 3973, false, {}},
    };
    uint32_t stored[3] = {};
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.band);
        st.unit().board().setPacing(sc.paced);
        st.bandChange(sc.hz);
        ASSERT_TRUE(st.settle());
        const uint32_t startWord = w->tuneval;
        const TuneRun run = st.tune();
        expectStepsOnTheWire(run, sc.output == 1 ? "AT10;" : "AT00;");
        ASSERT_FALSE(run.words.empty());
        EXPECT_EQ(startWord, run.words[0]) << "the present setting is measured first";
        expectMeasurementsOfTheSentWords(run, sc.output, sc.hz);
        EXPECT_LE(run.words.size(), 100u);
        const uint32_t last = run.words.back();
        EXPECT_EQ(last, st.unit().board().settings().tuneWord);
        EXPECT_EQ(tuneLine(sc.slot, sc.hz, last), st.root().read(tuneFile(sc.output)));
        EXPECT_EQ(1, tuneMemoryOf(w, sc.output - 1)[sc.slot].present);
        EXPECT_EQ(-1, ExistAnError(w));

        // Against every setting of the network on that load.
        auto scratch = std::make_unique<Works>();
        const double best =
            sim::TuningSession(scratch.get(), sim::antennaOnOutput(sc.output), static_cast<double>(sc.hz)).bruteForceBest();
        ASSERT_TRUE(st.polls(3));
        const double board = st.boardSwr();
        EXPECT_TRUE(board <= 1.02 * best || (best < 1.03 && board < 1.05)) << board << " against " << best;
        EXPECT_NEAR(board, miglioretuneParam.swr, 0.02 + 0.03 * board);
        std::printf("[ tune     ] %-13s climb    SWR %.3f (best %.3f) after %3zu polls in %.2f s, %.1f ms a poll (%s)\n",
                    sc.band, board, best, run.words.size(), run.seconds, 1000.0 * run.seconds / run.words.size(),
                    sc.paced ? "paced" : "unpaced");
        stored[sc.output - 1] = last;
    }
    st.unit().board().setPacing(true);
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.band);
        st.bandChange(7100000);
        ASSERT_TRUE(st.settle());
        const size_t from = st.mark();
        st.bandChange(sc.hz);
        ASSERT_TRUE(st.settle());
        const std::vector<std::string> sent = st.sentSince(from);
        EXPECT_EQ(1, std::count_if(sent.begin(), sent.end(), isTuneWordText));
        EXPECT_EQ(1, std::count(sent.begin(), sent.end(), wordText(stored[sc.output - 1])));
        EXPECT_EQ(0, std::count(sent.begin(), sent.end(), "MP1;")) << "no search";
        EXPECT_EQ(0, w->tuneStatus);
    }
}
