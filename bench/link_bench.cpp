// The amplifier link against the simulated board, paced at 115200 baud as on the unit.
//
// LinkPolling: status polls per second and the mean latency from queueing a command to its
// first byte on the wire, each next to its bound: the time the frames take on the line plus
// the link's pauses (10 ms after a status reply, 20 ms after others).
// ControllerCpu: CPU seconds per wall second of the whole ampctl process in steady state
// (after start-up and the firmware confirmation 30 s later).
#include "amplifier/link.h"
#include "controller_process.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "sim_unit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <pthread.h>
#include <random>
#include <unistd.h>

namespace {

std::string benchRoot(const char* name)
{
    auto dir = std::filesystem::temp_directory_path() / (std::string("ampctl-bench-") + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    return dir.string();
}

std::string text(const sim::WireEntry& e)
{
    return e.frame.size() > 2 ? e.frame.substr(2) : e.frame;
}

void LinkPolling(benchmark::State& state)
{
    sim::SimUnit unit(benchRoot("link"));
    setenv("AMPCTL_ROOT", unit.root().c_str(), 1);
    auto works = std::make_unique<Works>();
    auto record = std::make_unique<Orvosetup>();
    works->setup = record.get();
    initSetup(works.get());
    works->cpFlag = 0;
    pthread_t thread;
    pthread_create(&thread, nullptr, Linear, works.get());
    unit.waitForFrames(4, 5);

    std::mt19937 random(1);
    std::vector<std::pair<double, size_t>> queued;  // queue time, wire index then
    for (auto _ : state) {
        // One command queued at a random moment of the poll cycle, then let it go out.
        sleepMs(std::uniform_int_distribution<int>(5, 40)(random));
        queued.emplace_back(monoSeconds(), unit.wireLog().size());
        IncPNTIn_CMDLinear(10, works.get());  // "MT;"
        sleepMs(80);
    }
    works->running = 0;
    pthread_join(thread, nullptr);
    auto log = unit.wireLog();
    unit.stop();

    // Status polls per second over the run, and the bound from the line and the pauses.
    double first = -1, last = 0, ideal = 0;
    size_t polls = 0;
    for (size_t i = 0; i + 1 < log.size(); i++) {
        if (!log[i].toBoard || log[i + 1].toBoard)
            continue;
        const std::string cmd = text(log[i]);
        double onLine = (log[i].frame.size() + log[i + 1].frame.size()) * sim::kByteSeconds;
        double pause = cmd == "ST;" ? 0.010 : 0.020;
        if (first >= 0) {
            ideal += onLine + pause;
        }
        if (cmd == "ST;") {
            if (first < 0)
                first = log[i].t;
            polls++;
            last = log[i].t;
        }
    }
    // Latency: from queueing to the command's first byte; its bound is the end of the
    // reply then on the line plus the pause that follows it.
    double latency = 0, latencyBound = 0;
    size_t samples = 0;
    for (auto [t, index] : queued) {
        for (size_t i = index; i < log.size(); i++) {
            if (log[i].toBoard && text(log[i]) == "MT;") {
                // Ideally the command leaves 10 ms after the first status reply that
                // ends after it was queued.
                double replyEnd = t;
                for (size_t j = index; j < i; j++) {
                    if (!log[j].toBoard && text(log[j]).rfind("ST", 0) == 0 && log[j].tEnd >= t) {
                        replyEnd = log[j].tEnd;
                        break;
                    }
                }
                latency += log[i].t - t;
                latencyBound += replyEnd - t + 0.010;
                samples++;
                break;
            }
        }
    }
    // How long the simulated board's replies took on the line against their byte count.
    double replyTime = 0, replyIdeal = 0, turnaround = 0;
    size_t replies = 0;
    for (size_t i = 1; i < log.size(); i++) {
        if (log[i].toBoard || !log[i - 1].toBoard)
            continue;
        replyTime += log[i].tEnd - log[i].t;
        replyIdeal += (log[i].frame.size() - 1) * sim::kByteSeconds;
        turnaround += log[i].t - log[i - 1].t;
        replies++;
    }
    // How long the link took past its pause to send the next command after a reply.
    double gapExcess = 0;
    size_t gaps = 0;
    for (size_t i = 1; i + 1 < log.size(); i++) {
        if (log[i].toBoard || !log[i - 1].toBoard || !log[i + 1].toBoard)
            continue;
        double pause = text(log[i - 1]) == "ST;" ? 0.010 : 0.020;
        gapExcess += log[i + 1].t - log[i].tEnd - pause;
        gaps++;
    }
    state.counters["link_gap_past_pause_ms"] = gaps ? 1000 * gapExcess / gaps : 0;
    state.counters["reply_on_line_vs_bytes"] = replyIdeal > 0 ? replyTime / replyIdeal : 0;
    state.counters["board_turnaround_ms"] = replies ? 1000 * turnaround / replies : 0;
    double span = last - first;
    state.counters["polls_per_s"] = span > 0 ? (polls - 1) / span : 0;
    state.counters["polls_per_s_bound"] = ideal > 0 ? (polls - 1) / ideal : 0;
    state.counters["poll_rate_vs_bound"] = ideal > 0 && span > 0 ? ideal / span : 0;
    state.counters["latency_ms"] = samples ? 1000 * latency / samples : 0;
    state.counters["latency_bound_ms"] = samples ? 1000 * latencyBound / samples : 0;
    state.counters["latency_vs_bound"] = latency > 0 ? latencyBound / latency : 0;
    unsetenv("AMPCTL_ROOT");
    std::filesystem::remove_all(unit.root());
}
BENCHMARK(LinkPolling)->Iterations(150)->Unit(benchmark::kMillisecond)->UseRealTime();

void ControllerCpu(benchmark::State& state)
{
    sim::SimUnit unit(benchRoot("cpu"));
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
    // Steady state: start-up over, and the one-off shell commands that confirm the
    // firmware 30 s after start are done.
    ctl.waitForStderr("--------- END THREAD AGG FW!!!", 60);
    sleepMs(1000);
    double cpu0 = ctl.cpuSeconds();
    double t0 = monoSeconds();
    for (auto _ : state)
        sleepMs(1000);
    double cpu = ctl.cpuSeconds() - cpu0;
    double wall = monoSeconds() - t0;
    state.counters["cpu_percent_of_core"] = 100 * cpu / wall;
    ctl.terminate();
    ctl.waitExit(20);
    unit.stop();
    std::filesystem::remove_all(unit.root());
}
BENCHMARK(ControllerCpu)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
