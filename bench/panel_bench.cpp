// The front panel of the real ampctl on the simulated unit, every thread of the default
// setup running (screen loop, button thread, keyboard, link).
//
// PanelCpu/1, PanelCpu/0: CPU seconds per wall second of the whole ampctl process in steady
// state (after start-up and the firmware confirmation 30 s later) with the button thread on
// (1) and off (0, "EnableGPIO: 0"). Goal: at most 3 % of one core with it on; the
// difference is the button thread's own share.
// KeyToFrame: from the release of a short press (when the debounced press becomes a key
// event) to the first panel frame that shows its effect; keys 5 (main bar to the settings
// menu) and 1 (back) alternate. Goal: at most 70 ms at the default 60 ms frame period.
#include "controller_process.h"
#include "platform/clock.h"
#include "sim_unit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

std::string benchRoot(const char* name)
{
    auto dir = std::filesystem::temp_directory_path() /
               (std::string("ampctl-bench-") + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    return dir.string();
}

// Steady state: start-up over, and the one-off commands 30 s after start done.
bool waitSteady(sim::ControllerProcess& ctl)
{
    const bool up = ctl.waitForStderr("--------- END THREAD AGG FW!!!", 90);
    sleepMs(1000);
    return up;
}

void PanelCpu(benchmark::State& state)
{
    sim::SimUnit unit(benchRoot("panel-cpu"));
    std::filesystem::create_directories(unit.path("opt/set"));
    std::ofstream(unit.path("opt/set/setup.txt")) << "EnableGPIO: " << state.range(0) << "\n";
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
    if (!waitSteady(ctl)) {
        state.SkipWithError("the controller did not reach steady state");
        return;
    }
    const double cpu0 = ctl.cpuSeconds();
    const double t0 = monoSeconds();
    for (auto _ : state)
        sleepMs(1000);
    state.counters["cpu_percent_of_core"] = 100 * (ctl.cpuSeconds() - cpu0) / (monoSeconds() - t0);
    ctl.terminate();
    ctl.waitExit(30);
    unit.stop();
    std::filesystem::remove_all(unit.root());
}
BENCHMARK(PanelCpu)->Arg(1)->Arg(0)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// The panel file as the screen shows it, sampled on a grid of every 8th pixel.
class PanelSampler {
public:
    explicit PanelSampler(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        base_ = mmap(nullptr, kBytes, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
    }
    ~PanelSampler()
    {
        if (base_ != MAP_FAILED)
            munmap(base_, kBytes);
    }
    bool ok() const { return base_ != MAP_FAILED; }
    std::vector<uint32_t> sample() const
    {
        std::vector<uint32_t> out;
        out.reserve((800 / 8) * (480 / 8));
        const auto* px = static_cast<const volatile uint32_t*>(base_);
        for (int y = 0; y < 480; y += 8)
            for (int x = 0; x < 800; x += 8)
                out.push_back(static_cast<uint32_t>(px[y * 800 + x]));
        return out;
    }
    static size_t differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
    {
        size_t n = 0;
        for (size_t i = 0; i < a.size() && i < b.size(); i++)
            n += a[i] != b[i];
        return n;
    }

private:
    static constexpr size_t kBytes = 800 * 480 * 4;
    void* base_ = MAP_FAILED;
};

void KeyToFrame(benchmark::State& state)
{
    sim::SimUnit unit(benchRoot("key-frame"));
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
    PanelSampler panel(unit.framebufferPath());
    if (!panel.ok() || !ctl.waitForStderr("Timer thread started", 60)) {
        state.SkipWithError("no screen loop");
        return;
    }
    sleepMs(3000);
    // What the panel changes by itself (clock, meters) over a second, so a key's effect
    // is told from it.
    size_t noise = 0;
    std::vector<uint32_t> last = panel.sample();
    for (double end = monoSeconds() + 1.0; monoSeconds() < end; sleepMs(5)) {
        const std::vector<uint32_t> now = panel.sample();
        noise = std::max(noise, PanelSampler::differing(last, now));
        last = now;
    }
    const size_t threshold = std::max<size_t>(3 * noise, 40);

    std::vector<double> latencies;
    int missed = 0;
    int key = 5;
    for (auto _ : state) {
        unit.buttonLevel(key, true);
        sleepMs(40);
        const std::vector<uint32_t> before = panel.sample();
        const double released = monoSeconds();
        unit.buttonLevel(key, false);
        double seen = -1;
        while (monoSeconds() - released < 2.0) {
            if (PanelSampler::differing(before, panel.sample()) > threshold) {
                seen = monoSeconds();
                break;
            }
            usleep(500);
        }
        if (seen < 0)
            missed++;
        else
            latencies.push_back(seen - released);
        key = key == 5 ? 1 : 5;
        sleepMs(400);
    }
    std::sort(latencies.begin(), latencies.end());
    double sum = 0;
    for (double l : latencies)
        sum += l;
    state.counters["release_to_frame_mean_ms"] = latencies.empty() ? 0 : 1000 * sum / latencies.size();
    state.counters["release_to_frame_median_ms"] = latencies.empty() ? 0 : 1000 * latencies[latencies.size() / 2];
    state.counters["release_to_frame_max_ms"] = latencies.empty() ? 0 : 1000 * latencies.back();
    state.counters["presses_not_seen"] = missed;
    state.counters["noise_samples"] = static_cast<double>(noise);
    ctl.terminate();
    ctl.waitExit(30);
    unit.stop();
    std::filesystem::remove_all(unit.root());
}
BENCHMARK(KeyToFrame)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
