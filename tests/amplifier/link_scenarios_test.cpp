// The link thread in this process against the simulated board with its physical model,
// over the board's pseudo-terminal: measured SWR and powers, temperature alarm and its end,
// fan commands from the fan table, the protection fault and its recovery by the error key,
// and the band threshold and filter commands of a frequency change.
#include "amp_test_util.h"
#include "amplifier/filters.h"
#include "amplifier/thresholds.h"
#include "board_physics.h"
#include "core/setup.h"
#include "platform/clock.h"
#include "sim_unit.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

// Calibration of the band row used here: 1000 W at raw 4000 forward, 250 W at 4000
// reflected, 10 W at 1000 input, no directivity correction.
constexpr double K_FWD_ROW = 1000.0 / (4000.0 * 4000.0);
constexpr double K_REFL_ROW = 250.0 / (4000.0 * 4000.0);
constexpr double K_IN_ROW = 10.0 / (1000.0 * 1000.0);

bool waitUntil(const std::function<bool()>& done, double seconds)
{
    const double end = monoSeconds() + seconds;
    while (monoSeconds() < end) {
        if (done())
            return true;
        sleepMs(10);
    }
    return done();
}

// Host texts after `from` in the order sent.
std::vector<std::string> sentAfter(sim::SimUnit& unit, size_t from)
{
    return hostTexts(unit.wireLog(), from);
}

bool sentInOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted)
{
    size_t k = 0;
    for (const std::string& t : texts)
        if (k < wanted.size() && t == wanted[k])
            k++;
    return k == wanted.size();
}

// A simulated unit, its board's physics, and the link thread of a works record.
class LinkBench {
public:
    explicit LinkBench(const std::string& name, bool withBandRow = true)
        : dir_(std::filesystem::temp_directory_path() / ("ampctl-link-" + name + "-" + std::to_string(getpid())))
    {
        std::filesystem::remove_all(dir_);
        unit_ = std::make_unique<sim::SimUnit>(dir_.string());
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("AMPCTL_ROOT", unit_->root().c_str(), 1);
        setenv("PATH", (unit_->root() + "/bin:" + oldPath_).c_str(), 1);
        setSlot(setup_.LinPort, "/dev/ttyAMA0");
        works_ = freshWorks(false);
        works_->setup = &setup_;
        if (withBandRow) {
            works_->configRows = {
                parseConfigLine("1800000 0 1000 4000 250 4000 10 1000 0 30 30 50 1100"),
                parseConfigLine("10000000 0 1000 4000 250 4000 10 1000 0 30 30 200 1100"),
                parseConfigLine("30000000 0 1000 4000 250 4000 10 1000 0 30 30 200 1100")};
            works_->configRowCount = 3;
            physics_.setCalibration({K_FWD_ROW, K_REFL_ROW, K_IN_ROW, 0.0});
        }
        physics_.setTimeScale(0);
        unit_->board().state().setPhysics(physics_.hook());
    }
    ~LinkBench()
    {
        stopLink();
        unit_->board().state().setPhysics({});
        unit_->stop();
        unsetenv("AMPCTL_ROOT");
        setenv("PATH", oldPath_.c_str(), 1);
        std::filesystem::remove_all(dir_);
    }
    // Queues the board initialisation and starts the link; returns once the board has
    // answered "CPFFFF;" and the queue is worked off.
    bool start()
    {
        InitMicroCmd(works_.get());
        link_ = std::thread(Linear, works_.get());
        return waitUntil([this] { return !(works_->cpFlag & 1) && cmdQueueEmpty(works_.get()); }, 10);
    }
    void stopLink()
    {
        if (link_.joinable()) {
            works_->running = 0;
            link_.join();
        }
    }
    Works* works() { return works_.get(); }
    sim::SimUnit& unit() { return *unit_; }
    sim::BoardPhysics& physics() { return physics_; }
    size_t mark() { return unit_->wireLog().size(); }
    // Waits for `polls` more status replies.
    bool polls(int count)
    {
        const size_t base = countHost(unit_->wireLog(), "ST;");
        return unit_->waitForFrames([&](const auto& log) { return countHost(log, "ST;") >= base + count; }, 10);
    }

private:
    std::filesystem::path dir_;
    std::string oldPath_;
    std::unique_ptr<sim::SimUnit> unit_;
    sim::BoardPhysics physics_;
    Orvosetup setup_{};
    std::unique_ptr<Works> works_;
    std::thread link_;
};

} // namespace

TEST(LinkScenarios, SwrAndPowersOfALoadOfSwrTwo)
{
    LinkBench bench("swr");
    ASSERT_TRUE(bench.start());
    // The band row's thresholds went out with the initialisation (14 MHz: reflected 200 W).
    EXPECT_EQ(1, countHost(bench.unit().wireLog(), "TS1732409535774095;"));
    bench.physics().setDrivePower(10);
    bench.physics().setLoadSwr(2.0);
    ASSERT_TRUE(bench.polls(4));
    const sim::PhysicsTruth truth = bench.physics().truth();
    ASSERT_NEAR(100.0, truth.forward, 1e-6);
    Works* w = bench.works();
    EXPECT_NEAR(2.0, w->swr, 0.04);
    EXPECT_NEAR(truth.forward, w->pwrFwd, 0.02 * truth.forward);
    EXPECT_NEAR(truth.reflected, w->pwrRefl, 0.02 * truth.reflected);
    EXPECT_NEAR(10.0, w->pwrIn, 0.2);
    EXPECT_NEAR(truth.supplyCurrent, w->rawCurrent * 14.05 / 4096, 0.02);
    EXPECT_EQ(1, w->statoAmp[1] & 1) << "transmitting";
    EXPECT_EQ(-1, ExistAnError(w));

    // The 3 dB pad lowers the output by half.
    w->attenuator = 2;
    IncPNTIn_CMDLinear(14, w);
    ASSERT_TRUE(bench.unit().waitForFrame("AT10;", true, 5, 1, true));
    ASSERT_TRUE(bench.polls(3));
    EXPECT_NEAR(50.1, w->pwrFwd, 1.0);
    EXPECT_NEAR(2.0, w->swr, 0.04);
}

TEST(LinkScenarios, HeatingPastTheLimitAndCoolingBack)
{
    LinkBench bench("heat");
    Works* w = bench.works();
    w->startupDone = 1;
    ASSERT_TRUE(bench.start());
    // A hot room and 100 W into SWR 2: the heat sink settles above 60 degrees even with
    // the fan at full speed. Simulated time runs 400 times faster.
    bench.physics().setAmbient(56);
    bench.physics().setDrivePower(10);
    bench.physics().setLoadSwr(2.0);
    const size_t before = bench.mark();
    bench.physics().setTimeScale(400);
    ASSERT_TRUE(waitUntil([&] { return ExistError(w, 2) == 1; }, 20)) << bench.physics().truth().temp1;
    ASSERT_TRUE(bench.polls(8));
    EXPECT_TRUE(sentInOrder(sentAfter(bench.unit(), before), {"MP1;", "AT11;", "AB0;"}));
    EXPECT_EQ(1, countHost(bench.unit().wireLog(), "MP1;")) << "the alarm is sent once";
    EXPECT_GT(w->temp1, 60.0f);

    // Transmission stops, the room cools: back below 59 degrees the amplifier is bypassed
    // and the after-alarm notice replaces the alarm.
    const size_t hot = bench.mark();
    bench.physics().setDrivePower(0);
    bench.physics().setAmbient(25);
    ASSERT_TRUE(waitUntil([&] { return ExistError(w, 0) == 1; }, 20)) << bench.physics().truth().temp1;
    EXPECT_EQ(0, ExistError(w, 2));
    ASSERT_TRUE(bench.polls(2));
    EXPECT_TRUE(sentInOrder(sentAfter(bench.unit(), hot), {"AB1;"}));
    EXPECT_LT(w->temp1, 59.0f);
}

TEST(LinkScenarios, FanFollowsTheTableWithSlowDownHysteresis)
{
    LinkBench bench("fan");
    Works* w = bench.works();
    w->ventolaRows = {{30, 0}, {45, 50}, {55, 100}};
    w->ventolaRowCount = 3;
    bench.physics().setTemperatures(40, 30);
    ASSERT_TRUE(bench.start());
    ASSERT_TRUE(bench.unit().waitForFrame("FN1100;", true, 10, 1, true)) << "initialisation: full speed";
    w->startupDone = 1;
    ASSERT_TRUE(bench.unit().waitForFrame("FN1000;", true, 10, 1, true)) << "40 degrees: the first row, fan off";
    const auto settle = [&](double t) {
        bench.physics().setTemperatures(t, 30);
        // The smoothing needs a few dozen polls to reach a step of the input.
        return waitUntil([&] { return std::fabs(w->temp1 - t) < 0.05; }, 20);
    };
    ASSERT_TRUE(settle(47));
    EXPECT_TRUE(bench.unit().waitForFrame("FN1050;", true, 5, 1, true));
    ASSERT_TRUE(settle(44.5));
    ASSERT_TRUE(bench.polls(3));
    EXPECT_EQ(0u, countHost(bench.unit().wireLog(), "FN1000;") - 1) << "44.5 is not 1 degree below 45";
    ASSERT_TRUE(settle(43.5));
    EXPECT_TRUE(bench.unit().waitForFrame("FN1000;", true, 5, 2, true));
    ASSERT_TRUE(settle(56));
    EXPECT_TRUE(bench.unit().waitForFrame("FN1100;", true, 5, 2, true)) << "speeding up goes at once";
    EXPECT_EQ(100, bench.unit().board().settings().fanPercent);
}

TEST(LinkScenarios, ProtectionFaultRecoveredByTheErrorKey)
{
    LinkBench bench("protection");
    Works* w = bench.works();
    w->frequency = 1900000;  // the band whose reflected limit is 50 W
    ASSERT_TRUE(bench.start());
    // Nearly all the power comes back: the reflected reading passes the board's threshold.
    bench.physics().setDrivePower(10);
    bench.physics().setLoadSwr(50);
    ASSERT_TRUE(waitUntil([&] { return ExistError(w, 1) == 1; }, 10));
    EXPECT_TRUE(bench.unit().board().readings().swrTrip);
    EXPECT_EQ(1, errorFlags(w) & 1);

    // The antenna is fixed; the user presses the error key.
    bench.physics().setLoadSwr(1.0);
    const size_t before = bench.mark();
    EXPECT_EQ(1, GPIO_Errori(w));
    ASSERT_TRUE(waitUntil([&] { return ExistAnError(w) == -1 && errorFlags(w) == 0; }, 10));
    ASSERT_TRUE(bench.polls(2));
    // The burst went out back to back, then the status poll that finished the recovery.
    std::vector<std::string> texts = sentAfter(bench.unit(), before);
    auto cp = std::find(texts.begin(), texts.end(), "CPFFFF;");
    ASSERT_NE(texts.end(), cp);
    ASSERT_GE(texts.end() - cp, 5);
    EXPECT_EQ((std::vector<std::string>{"CPFFFF;", "MP0;", "AB0;", "AT00;", "ST;"}), std::vector<std::string>(cp, cp + 5));
    EXPECT_FALSE(bench.unit().board().readings().swrTrip);
    EXPECT_EQ(0, w->cmdBurst.load());
    EXPECT_EQ(0, w->errResend);
}

TEST(LinkScenarios, FrequencyChangeSendsThresholdsAndFilterOnlyOnAChange)
{
    LinkBench bench("frequency");
    Works* w = bench.works();
    w->filterTable[0] = {1800000, 2000000, 1};
    w->filterTable[3] = {14000000, 14350000, 1};
    w->filterTable[7] = {0, 54000000, 1};
    ASSERT_TRUE(bench.start());
    const auto change = [&](uint32_t hz) {
        w->frequency = hz;
        SetFilterFromfreq(w);
        SearchCambioSoglie_TS(w);
        return waitUntil([&] { return cmdQueueEmpty(w); }, 5) && bench.polls(2);
    };
    const size_t before = bench.mark();
    ASSERT_TRUE(change(1900000));
    ASSERT_TRUE(change(1950000));
    ASSERT_TRUE(change(14100000));
    ASSERT_TRUE(change(14200000));
    ASSERT_TRUE(change(21100000));
    std::vector<std::string> sent;
    for (const std::string& t : sentAfter(bench.unit(), before))
        if (t.rfind("TS", 0) == 0 || t.rfind("SF", 0) == 0)
            sent.push_back(t);
    // Row 0 (1.8 MHz): reflected limit 50 W; row 1 from 10 MHz: 200 W. The 14 MHz filter is
    // the fourth (mask 08), everything else falls to the last (mask 80).
    EXPECT_EQ((std::vector<std::string>{"SF3000001;", "TS1732409517884095;", "SF3000008;",
                                        "TS1732409535774095;", "SF3000080;"}),
              sent);
    EXPECT_EQ("3000080", bench.unit().board().settings().sf);
}
