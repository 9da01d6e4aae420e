// The simulated front panel: button presses on the register file's level word, from
// control lines, with their order and durations; keyboard keys into the FIFO.
#include "control.h"
#include "root_builder.h"
#include "controller_process.h"
#include "front_panel.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "sim_test_util.h"
#include "sim_unit.h"
#include "ui/keyboard_events.h"

#include <gtest/gtest.h>

#include "support/files.h"

#include <filesystem>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Edge {
    int key;
    bool down;
    double at;
};

// Watches the level word of a root's dev/mem from a mapping of its own (as the controller
// does) and records every button edge.
class LevelWatcher {
public:
    explicit LevelWatcher(const std::string& root)
    {
        const int fd = ::open((root + "/dev/mem").c_str(), O_RDONLY);
        base_ = mmap(nullptr, GPIO_BLOCK_BYTES, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        const uint32_t first = level();
        thread_ = std::thread([this, first] { run(first); });
    }
    ~LevelWatcher()
    {
        stop_ = true;
        thread_.join();
        munmap(base_, GPIO_BLOCK_BYTES);
    }
    uint32_t level() const { return static_cast<const volatile uint32_t*>(base_)[GPIO_LEV0 / 4]; }
    std::vector<Edge> edges()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return edges_;
    }

private:
    void run(uint32_t last)
    {
        while (!stop_) {
            const uint32_t now = level();
            for (int k = 1; k <= 6; k++) {
                const uint32_t bit = 1u << (21 + k);
                if ((now ^ last) & bit) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    edges_.push_back({k, !(now & bit), monoSeconds()});
                }
            }
            last = now;
            usleep(500);
        }
    }
    void* base_ = nullptr;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Edge> edges_;
    std::thread thread_;
};

TEST(SimFrontPanel, ControlLinesPressHoldAndLevelInOrder)
{
    simtest::ScratchDir dir;
    // A new root's register file already reads every button released.
    const std::string block = readFile(sim::buildRoot(dir.path()) + "/dev/mem");
    ASSERT_EQ(GPIO_BLOCK_BYTES, block.size());
    uint32_t level = 0;
    std::memcpy(&level, block.data() + GPIO_LEV0, sizeof level);
    EXPECT_EQ(sim::releasedLevels(), level);

    sim::SimUnit unit(dir.path());
    LevelWatcher watch(unit.root());
    EXPECT_EQ(sim::releasedLevels(), watch.level()) << "all released, the micro's data line high";

    const sim::ControlTargets targets{&unit.board(), nullptr, unit.frontPanel()};
    EXPECT_EQ("", sim::applyControlText(targets, "press 4\nhold 2 300ms\npress 6\n"));
    ASSERT_TRUE(unit.frontPanel()->waitButtonsIdle(10));
    sleepMs(20);
    const auto e = watch.edges();
    ASSERT_EQ(6u, e.size());
    const std::vector<std::pair<int, bool>> order = {{4, true}, {4, false}, {2, true}, {2, false}, {6, true}, {6, false}};
    for (size_t i = 0; i < order.size(); i++) {
        EXPECT_EQ(order[i].first, e[i].key) << i;
        EXPECT_EQ(order[i].second, e[i].down) << i;
    }
    // Durations are what was asked; the watcher samples at its own pace, so each edge may
    // be seen some milliseconds late (an upper bound would test the machine's load).
    constexpr double SEEN_LATE = 0.04;
    EXPECT_GE(e[1].at - e[0].at, 0.1 - SEEN_LATE);
    EXPECT_GE(e[3].at - e[2].at, 0.3 - SEEN_LATE);
    EXPECT_GE(e[2].at - e[1].at, 0.1 - SEEN_LATE) << "released between two presses";
    EXPECT_EQ(sim::releasedLevels(), watch.level());

    // The level alone stays until changed; another button's press leaves it alone.
    EXPECT_EQ("", sim::applyControlLine(targets, "button 3 down"));
    EXPECT_EQ(0u, watch.level() & (1u << 24));
    EXPECT_TRUE(unit.pressButton(5, 50));
    ASSERT_TRUE(unit.frontPanel()->waitButtonsIdle(10));
    EXPECT_EQ(0u, watch.level() & (1u << 24));
    EXPECT_EQ("", sim::applyControlLine(targets, "button 3 up"));
    EXPECT_EQ(sim::releasedLevels(), watch.level());

    for (const char* bad : {"press 7", "press", "hold 1", "hold 1 x", "hold 0 100", "button 2 sideways",
                            "button 9 down", "key F13", "key", "key 0"})
        EXPECT_NE("", sim::applyControlLine(targets, bad)) << bad;
    EXPECT_NE("", sim::applyControlLine(sim::ControlTargets{&unit.board(), nullptr, nullptr}, "press 1"))
        << "no front panel to press";
    EXPECT_NE("", sim::applyControlLine(sim::ControlTargets{nullptr, nullptr, unit.frontPanel()}, "frequency 1"))
        << "no board";
}

TEST(SimFrontPanel, KeyLinesWriteOneKeyStrokeIntoTheFifo)
{
    simtest::ScratchDir dir;
    sim::SimUnit unit(dir.path());
    const int kbd = ::open(unit.path("dev/input/by-id/sim-event-kbd").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(kbd, 0);
    const sim::ControlTargets targets{nullptr, nullptr, unit.frontPanel()};
    EXPECT_EQ("", sim::applyControlText(targets, "key F12\nkey SYSRQ\nkey F10\nkey F11\nkey 30\n"));
    uint8_t buf[1024];
    const ssize_t n = ::read(kbd, buf, sizeof buf);
    ::close(kbd);
    ASSERT_EQ(static_cast<ssize_t>(5 * 4 * KEY_EVENT_BYTES), n) << "press, report, release, report a key";
    KeyEventBuffer events;
    EXPECT_EQ((std::vector<int>{88, 99, 68, 87, 30}), takeKeyPresses(events, std::span(buf, static_cast<size_t>(n))));
}

TEST(SimFrontPanel, AmpsimTakesPanelLinesFromTheControlFile)
{
    simtest::ScratchDir dir;
    // ampsim itself, its start-up text sent to the captured stream.
    sim::ControllerOptions o;
    o.binary = "/bin/sh";
    o.args = {"-c", "exec \"$0\" --root \"$1\" 1>&2", AMPSIM_BIN, dir.path()};
    o.root = dir.path();
    o.stderrFile = dir.path() + "/../" + fs::path(dir.path()).filename().string() + ".ampsim.out";
    sim::ControllerProcess ampsim(o);
    ASSERT_TRUE(ampsim.waitForStderr("Ctrl-C stops", 20)) << ampsim.stderrText();
    for (const char* line : {"echo 'press 6' > ", "hold 1 800", "button 3 down", "key F12"})
        EXPECT_NE(std::string::npos, ampsim.stderrText().find(line)) << "start-up text names " << line;

    LevelWatcher watch(dir.path());
    const int kbd = ::open((dir.path() + "/dev/input/by-id/sim-event-kbd").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(kbd, 0);
    writeFile(dir.path() + "/sim/control", "press 2\nkey SYSRQ\npress 9\n");
    ASSERT_TRUE(ampsim.waitForStderr("control file applied", 10));
    EXPECT_NE(std::string::npos, ampsim.stderrText().find("press 9: usage: press K"));
    const double end = monoSeconds() + 10;
    while (watch.edges().size() < 2 && monoSeconds() < end)
        sleepMs(20);
    const auto e = watch.edges();
    ASSERT_EQ(2u, e.size());
    EXPECT_EQ(2, e[0].key);
    EXPECT_TRUE(e[0].down);
    EXPECT_FALSE(e[1].down);
    uint8_t buf[256];
    const ssize_t n = ::read(kbd, buf, sizeof buf);
    ::close(kbd);
    ASSERT_EQ(static_cast<ssize_t>(4 * KEY_EVENT_BYTES), n) << "press, report, release, report";
    KeyEventBuffer events;
    EXPECT_EQ(std::vector<int>{99}, takeKeyPresses(events, std::span(buf, static_cast<size_t>(n))));
    ampsim.terminate();
    EXPECT_EQ(0, ampsim.waitExit(20));
    fs::remove(o.stderrFile);
}

} // namespace
