// The tuner trace and landscape of the simulated board: the map's cells are the board
// model's own SWR at those settings, and searches are cut where the words stood still.
#include "antenna_loads.h"
#include "board_physics.h"
#include "tuner/tune_word.h"
#include "tuner_network.h"
#include "tuner_trace.h"
#include "tuning_session.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

uint32_t word(int mode, int l, int c)
{
    return tunewordWithC(tunewordWithL(tunewordWithMode(0, mode), l), c);
}

// The SWR the board model reports at a setting: a status reply through the physics.
double boardSwr(sim::BoardPhysics& physics, uint64_t hz, uint32_t tuneWord, int antenna)
{
    sim::BoardSettings s;
    s.frequencySet = hz;
    s.tuneWord = tuneWord;
    s.antenna = antenna;
    s.bypass = true;  // drive straight through: no heat, no saturation
    sim::StatusReadings r;
    physics.apply(s, r);
    return sim::truthSwr(physics.truth());
}

} // namespace

TEST(TunerLandscape, EveryCellIsTheBoardModelsSwrAtThatSetting)
{
    sim::BoardPhysics physics;
    physics.setDrivePower(10);
    physics.setReflection(sim::antennasThroughTuner());
    struct Case {
        uint64_t hz;
        int antenna;
        int mode;
    };
    for (const Case k : {Case{14200000, 3, TUNE_MODE_CL}, Case{14200000, 3, TUNE_MODE_LC},
                         Case{7100000, 1, TUNE_MODE_LC}, Case{3600000, 2, TUNE_MODE_CL}}) {
        const sim::TunerMap map = sim::tunerLandscape(physics.reflection(), k.hz, k.antenna, k.mode, 4);
        ASSERT_EQ(map.size, 128);
        ASSERT_EQ(map.swr.size(), 128u * 128u);
        for (const auto& [i, j] : {std::pair{0, 0}, {127, 127}, {3, 90}, {64, 17}, {101, 55}}) {
            const uint32_t w = word(k.mode, i * 4, j * 4);
            const double f = static_cast<double>(k.hz);
            const double model = sim::tunerNetwork(w, f, sim::antennaOnOutput(k.antenna).impedance(f)).swr;
            const float cell = map.swr[static_cast<size_t>(i * 128 + j)];
            EXPECT_NEAR(cell, model, 1e-4 * model) << k.hz << " output " << k.antenna << " L " << i * 4 << " C " << j * 4;
            EXPECT_NEAR(cell, boardSwr(physics, k.hz, w, k.antenna), 1e-3 * model);
        }
    }
    // The 20 m end-fed wire: the map holds a match that the bare wire is far from.
    const sim::TunerMap cl = sim::tunerLandscape(physics.reflection(), 14200000, 3, TUNE_MODE_CL, 4);
    const sim::TunerMap lc = sim::tunerLandscape(physics.reflection(), 14200000, 3, TUNE_MODE_LC, 4);
    const float best = std::min(*std::min_element(cl.swr.begin(), cl.swr.end()),
                                *std::min_element(lc.swr.begin(), lc.swr.end()));
    EXPECT_LT(best, 1.5f);
    EXPECT_GT(boardSwr(physics, 14200000, TUNE_BIT_BYPASS, 3), 10.0);

    // A plain load is flat: the same SWR everywhere.
    physics.setReflection({});
    physics.setLoadSwr(2.5);
    const sim::TunerMap flat = sim::tunerLandscape(physics.reflection(), 14200000, 3, TUNE_MODE_CL, 64);
    ASSERT_EQ(flat.size, 8);
    for (float v : flat.swr)
        EXPECT_NEAR(v, 2.5, 1e-4);
}

TEST(TunerTrace, SearchesAreWordChangesUnderRfCutWhereTheWordsStoodStill)
{
    sim::TunerTrace trace(2.0);
    sim::BoardSettings s;
    s.frequencySet = 14200000;
    s.antenna = 3;
    auto at = [&](uint32_t w, double forward, double swr, double t) {
        s.tuneWord = w;
        trace.observe(s, forward, swr, t);
    };
    // Words set without RF (a recalled tune, a band change) are no search.
    at(word(TUNE_MODE_CL, 10, 10), 0, 0, 0.0);
    at(word(TUNE_MODE_CL, 20, 10), 0, 0, 0.1);
    EXPECT_TRUE(trace.path(0.2).points.empty());

    // Keyed: the first reply measures the word already set, then the search moves.
    at(word(TUNE_MODE_CL, 20, 10), 100, 6.0, 1.0);
    at(word(TUNE_MODE_CL, 40, 10), 100, 3.0, 1.1);
    at(word(TUNE_MODE_LC, 40, 30), 100, 1.4, 1.2);
    at(word(TUNE_MODE_LC, 40, 31), 100, 1.7, 1.3);
    at(word(TUNE_MODE_LC, 40, 30), 100, 1.4, 1.4);  // the best applied at the end
    at(word(TUNE_MODE_LC, 40, 30), 100, 1.4, 1.5);  // unchanged: no new point
    sim::TunerPath p = trace.path(1.6);
    ASSERT_EQ(p.points.size(), 5u);
    EXPECT_TRUE(p.running);
    EXPECT_EQ(p.points[0].l, 20);
    EXPECT_EQ(p.points[0].mode, TUNE_MODE_CL);
    EXPECT_DOUBLE_EQ(p.points[0].swr, 6.0);
    EXPECT_EQ(p.best, 2);
    EXPECT_EQ(p.points.back().c, 30);
    EXPECT_EQ(p.mapMode, TUNE_MODE_LC);
    EXPECT_EQ(p.frequencyHz, 14200000u);
    EXPECT_EQ(p.antenna, 3);
    const uint64_t version = p.version;
    EXPECT_FALSE(trace.path(3.5).running) << "words still for the settle time: the search is over";

    // A word change after the pause is a new search, starting from the word it found.
    at(word(TUNE_MODE_LC, 41, 30), 100, 1.5, 10.0);
    p = trace.path(10.1);
    ASSERT_EQ(p.points.size(), 2u);
    EXPECT_EQ(p.points[0].l, 40);
    EXPECT_GT(p.version, version);
    // Another output without a pause is another search too; a bypass word has no map.
    s.antenna = 2;
    at(TUNE_BIT_BYPASS, 100, 1.3, 10.2);
    p = trace.path(10.3);
    ASSERT_EQ(p.points.size(), 2u);
    EXPECT_EQ(p.antenna, 2);
    EXPECT_EQ(p.points.back().mode, TUNE_MODE_BYPASS);
    EXPECT_EQ(p.mapMode, TUNE_MODE_LC) << "the map keeps to the network point";
}
