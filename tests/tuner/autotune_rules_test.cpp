// The search rules of automatic tuning with scripted readings: each poll sets the reading of
// the status reply (the measurement of the setting the previous step applied) and runs one
// step, so every value the searches choose can be checked exactly.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "core/setup.h"
#include "core/works.h"
#include "tuning_test_util.h"
#include "support/sim_root.h"
#include "tuner/autotune.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

class Script {
public:
    explicit Script(const char* name, char tipo = '0') : root(name)
    {
        readyToTune(works.get(), setup.get(), tipo);
        works->frequency = 7100000;
        testing::internal::CaptureStderr();
    }
    ~Script() { stderrText(); }
    // The start asked for and carried out as the link does, its burst sent.
    void start()
    {
        StartAutotune(works.get());
        ServeTuneRequests(works.get());
        drain();
    }
    // One status reply with this SWR, then one step.
    void poll(float swr)
    {
        works->swr = swr;
        works->pwrFwd = swr > 0 ? 50.0f : 0.0f;
        works->statoAmp[1] = 0;
        TuneTask(works.get());
        drain();
    }
    void polls(int n, float swr)
    {
        for (int i = 0; i < n; ++i)
            poll(swr);
    }
    int step() const { return works->tuneStep; }
    int l() const { return works->induttanza; }
    int c() const { return works->capacita; }
    bool sideB() const { return (works->tuneval & TUNE_BIT_SIDE_B) != 0; }
    bool stored() const { return root.exists("opt/set/atu_ant2_b3.txt"); }
    bool error(int code) { return ExistError(works.get(), code) == 1; }
    // Standard error so far (capture ends with the first call).
    const std::string& stderrText()
    {
        if (!captured) {
            err = testing::internal::GetCapturedStderr();
            captured = true;
        }
        return err;
    }

    TestRoot root;
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();

private:
    void drain()
    {
        while (takeQueuedCmd(works.get()) >= 0) {
        }
        works->cmdBurst = 0;
    }
    std::string err;
    bool captured = false;
};

TEST(TuneRules, CompleteSearchStepSizesAndFineStepLimits)
{
    Script s("rules-steps");
    s.start();
    s.polls(3, 0);  // states 0, 1, 2: nothing measured
    ASSERT_EQ(3, s.step());
    EXPECT_TRUE(s.sideB());

    // Inductance up in steps of 4 while the SWR does not rise by more than 0.1.
    for (int i = 0; i < 10; ++i) {
        s.poll(5.0f - 0.2f * static_cast<float>(i));
        EXPECT_EQ(4 * (i + 1), s.l());
    }
    s.poll(3.5f);  // 0.3 worse than 3.2: back off by one
    EXPECT_EQ(4, s.step());
    EXPECT_EQ(39, s.l());
    // Single steps down: at most eight.
    s.polls(8, 3.5f);
    EXPECT_EQ(4, s.step());
    EXPECT_EQ(31, s.l());
    s.poll(3.5f);
    EXPECT_EQ(5, s.step());
    EXPECT_EQ(31, s.l());
    EXPECT_EQ(8, s.c());

    // Capacitance on side B in steps of 8, then at most sixteen single steps.
    s.poll(3.45f);
    s.poll(3.4f);
    EXPECT_EQ(24, s.c());
    s.poll(3.6f);
    EXPECT_EQ(6, s.step());
    EXPECT_EQ(23, s.c());
    s.polls(16, 3.6f);
    EXPECT_EQ(6, s.step());
    EXPECT_EQ(7, s.c());
    s.poll(3.6f);
    EXPECT_EQ(7, s.step());
    EXPECT_EQ(0, s.c());
    EXPECT_FALSE(s.sideB()) << "side A next";
    s.poll(3.6f);
    EXPECT_EQ(8, s.step());
    EXPECT_EQ(8, s.c());

    // Side A: steps of 8, sixteen single steps, and at the limit the best setting with the
    // inductance 2 higher.
    for (int want : {16, 24, 32}) {
        s.poll(3.6f);
        EXPECT_EQ(want, s.c());
    }
    s.poll(3.8f);
    EXPECT_EQ(9, s.step());
    EXPECT_EQ(31, s.c());
    s.polls(16, 3.8f);
    EXPECT_EQ(9, s.step());
    EXPECT_EQ(15, s.c());
    s.poll(3.8f);
    EXPECT_EQ(10, s.step());
    // The best so far: 3.2 at inductance 36 on side B.
    EXPECT_EQ(38, s.l());
    EXPECT_EQ(0, s.c());
    EXPECT_TRUE(s.sideB());

    // Inductance again in steps of 2, then at most six single steps.
    s.poll(3.1f);
    EXPECT_EQ(40, s.l());
    s.poll(3.0f);
    EXPECT_EQ(42, s.l());
    s.poll(3.3f);
    EXPECT_EQ(11, s.step());
    EXPECT_EQ(41, s.l());
    s.polls(6, 3.3f);
    EXPECT_EQ(11, s.step());
    EXPECT_EQ(35, s.l());
    s.poll(3.3f);
    EXPECT_EQ(12, s.step());
    EXPECT_EQ(40, s.l()) << "the best: 3.0 at inductance 40";

    s.poll(3.3f);
    EXPECT_EQ(0, s.works->tuneStatus);
    const int slot = AtuIdxSearch(7100000, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::to_string(slot) + " 7100000 1 1 40 0\n", s.root.read("opt/set/atu_ant2_b3.txt"));
}

TEST(TuneRules, InductanceOfOneStaysOneOnABackOff)
{
    Script s("rules-backoff");
    s.start();
    s.polls(3, 0);
    s.poll(5.0f);  // L 0 -> 4
    s.poll(6.0f);  // worse: state 4, L 3
    s.poll(6.0f);  // L 2
    s.poll(6.0f);  // L 1
    s.poll(2.0f);  // the best, at L 1; L 0
    s.poll(9.0f);  // worse: state 5, C 8
    s.poll(9.0f);  // C 16
    s.poll(9.5f);  // worse: state 6, C 15
    s.poll(10.0f); // worse: state 7, side A, C 0
    s.poll(10.0f); // C 8, state 8
    s.poll(10.0f); // C 16
    s.poll(11.0f); // worse: state 9, C 15
    s.poll(12.0f); // worse: state 10 from the best, inductance 1
    ASSERT_EQ(10, s.step());
    ASSERT_EQ(1, s.l());
    s.poll(12.5f);  // worse: back off
    EXPECT_EQ(11, s.step());
    EXPECT_EQ(1, s.l());
}

TEST(TuneRules, BestOfSixIsStoredAndAboveSixIsRefused)
{
    for (float best : {6.0f, 6.01f}) {
        Script s("rules-six");
        s.start();
        s.works->tuneStep = 12;  // the last state: one measurement, then the end
        s.poll(best);
        EXPECT_EQ(0, s.works->tuneStatus);
        EXPECT_EQ(best == 6.0f, s.stored()) << best;
        EXPECT_EQ(best != 6.0f, s.error(18)) << best;
    }
}

TEST(TuneRules, TargetHasALowerBoundAndAnUnmeasuredBestIsRefusedWithItsReason)
{
    Script s("rules-target");
    s.works->swrEscAutoTune = 1.5f;
    s.start();
    s.polls(3, 0);
    s.poll(0.0f);   // no RF: no measurement, never the target
    s.poll(0.01f);  // the lower bound itself
    EXPECT_EQ(1, s.works->tuneStatus);
    s.poll(1.2f);
    EXPECT_EQ(0, s.works->tuneStatus) << "below the target: the end";
    // The best record is the reading without RF: nothing is stored, and that is no
    // "Max SWR".
    EXPECT_FALSE(s.stored());
    EXPECT_FALSE(s.error(18));
    EXPECT_NE(std::string::npos, s.stderrText().find("------- TUNE NOT STORED: best (SWR 00.00) not measured on slot"))
        << s.stderrText();
}

// The last two states with the frequency moved between the best reading and the store.
void endWithFrequencyMovedBy(Script& s, int hz, int antenna)
{
    s.start();
    s.works->tuneStep = 11;
    s.poll(2.0f);  // the best, then state 12
    ASSERT_EQ(12, s.step());
    s.works->frequency += static_cast<uint32_t>(hz);
    s.works->antenna = antenna;
    s.poll(4.0f);
    ASSERT_EQ(0, s.works->tuneStatus);
}

TEST(TuneRules, BestCountsForItsSlotAndAntennaNotTheExactHertz)
{
    {
        // The counter moves by a few hertz between polls: same slot, stored.
        Script s("rules-jitter");
        endWithFrequencyMovedBy(s, 3, 1);
        EXPECT_TRUE(s.stored());
        EXPECT_FALSE(s.error(18));
        EXPECT_EQ(1, s.works->fineTuneOk);
    }
    {
        // Two slots away (5 kHz slots at 7 MHz): not stored, and the log says why.
        Script s("rules-slot");
        endWithFrequencyMovedBy(s, 10000, 1);
        EXPECT_FALSE(s.stored());
        EXPECT_FALSE(s.error(18));
        EXPECT_NE(std::string::npos, s.stderrText().find("TUNE NOT STORED: best (SWR 02.00) not measured on slot 2122"))
            << s.stderrText();
    }
    {
        // Another antenna output: not stored either.
        Script s("rules-antenna");
        endWithFrequencyMovedBy(s, 0, 2);
        EXPECT_FALSE(s.stored());
        EXPECT_FALSE(s.root.exists("opt/set/atu_ant3_b3.txt"));
        EXPECT_NE(std::string::npos, s.stderrText().find("antenna 2\n"));
    }
}

// The preset search up to the side choice: recordings of side B's five presets, then side A's.
void presetRecordings(Script& s, const std::vector<float>& b, const std::vector<float>& a)
{
    presetBandRow(s.works.get(), {100, 110, 120, 130, 140}, {200, 210, 220, 230, 240}, 6);
    // A tune right after another: the threshold row is undetermined, the presets still come
    // from the band row of the frequency.
    s.works->thresholdRow = -1;
    s.start();
    ASSERT_EQ(TUNE_START_PRESET, s.step());
    s.polls(3, 0);  // states 450, 451, 452
    ASSERT_EQ(453, s.step());
    for (float swr : b)
        s.poll(swr);
    ASSERT_EQ(455, s.step());
    for (float swr : a)
        s.poll(swr);
    ASSERT_EQ(457, s.step());
}

TEST(TuneRules, SideBNeedsThreeWinsAndTiesGoToSideA)
{
    {
        // Side A wins presets 0 (a tie) and 1, side B presets 2, 3 and 4: side B, and its
        // lowest recording, preset 2.
        Script s("rules-side-b", '1');
        presetRecordings(s, {2.0f, 3.0f, 1.5f, 4.0f, 5.0f}, {2.0f, 2.5f, 2.0f, 4.5f, 5.5f});
        EXPECT_TRUE(s.sideB());
        EXPECT_EQ(120, s.l());
        EXPECT_EQ(220, s.c());
        EXPECT_FLOAT_EQ(1.5f, miglioretuneParam.swr);
    }
    {
        // Preset 3 a tie as well: side B wins two only. Side A, whose lowest recording
        // (2.0, twice) is preset 0, the first of the equal ones.
        Script s("rules-side-a", '1');
        presetRecordings(s, {2.0f, 3.0f, 1.5f, 4.0f, 5.0f}, {2.0f, 2.5f, 2.0f, 4.0f, 5.5f});
        EXPECT_FALSE(s.sideB());
        EXPECT_EQ(100, s.l());
        EXPECT_EQ(200, s.c());
        EXPECT_FLOAT_EQ(2.0f, miglioretuneParam.swr);
        // Then the row's step: the inductance up by 6 while the SWR does not rise at all.
        s.poll(1.9f);
        EXPECT_EQ(106, s.l());
        s.poll(1.9f);
        EXPECT_EQ(112, s.l());
        s.poll(1.95f);
        EXPECT_EQ(458, s.step());
        EXPECT_EQ(106, s.l());
    }
}

TEST(TuneRules, PresetStepsNeverLeaveTheRelayRange)
{
    for (int start : {508, 3}) {
        Script s("rules-range", '1');
        const int l[5] = {start, 512, 512, 512, 512};
        presetBandRow(s.works.get(), l, l, 8);
        s.start();
        s.polls(3, 0);
        s.polls(4, 2.0f);  // preset 0 on both sides; the others are absent
        ASSERT_EQ(457, s.step());
        // Rising and falling readings drive every step of the passes up and down.
        for (int i = 0; i < 40 && s.works->tuneStatus != 0; ++i) {
            s.poll(i % 2 ? 3.0f : 2.0f);
            EXPECT_GE(s.l(), 0) << start << " step " << s.step();
            EXPECT_LE(s.l(), 511) << start << " step " << s.step();
            EXPECT_GE(s.c(), 0) << start << " step " << s.step();
            EXPECT_LE(s.c(), 511) << start << " step " << s.step();
        }
    }
}

} // namespace
