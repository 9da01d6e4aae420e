// Whole-process CPU of ampctl following the maker's transceiver (interface mode "KRPIXO")
// on the simulated unit, with the screen loop running: Arg 0 the transceiver silent,
// Arg 1 streaming at its nominal rate (10 parameter frames and 10 spectrum lines of 1024
// bytes a second), Arg 2 at five times that. The controller draws the 160 kHz spectrum view
// in every case. Counter cpu_percent_of_core: CPU seconds per wall second x 100 over 20 s,
// measured once start-up is over; messages_per_s: what the transceiver sent meanwhile.
//
//   build/trx_stream_cpu --benchmark_counters_tabular=true
#include "controller_process.h"
#include "sim_unit.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr double kMeasureSeconds = 20;
constexpr double kNominalPerSecond = 10;

void ControllerCpuWhileStreaming(benchmark::State& state)
{
    const double rate = state.range(0) == 0 ? 0 : kNominalPerSecond * (state.range(0) == 2 ? 5 : 1);
    const std::string dir = std::filesystem::temp_directory_path() / ("ampctl-bench-trx-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    for (auto _ : state) {
        sim::SimUnit unit(dir);
        unit.transceivers()->setRates(rate, rate);
        unit.transceivers()->maker([](sim::MakerTransceiver& t) {
            t.toneOn = true;
            t.toneOffsetHz = 20000;
        });
        std::filesystem::create_directories(unit.path("opt/set"));
        std::ofstream(unit.path("opt/set/antenna_b1.txt")) << "!Ixo\n20m 14000000 14350000 1 1 0 0 0.0\n";
        sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
        if (!ctl.waitForStderr("Timer thread started", 60)) {
            state.SkipWithError("the controller did not start");
            break;
        }
        // Three presses of the view key: the 160 kHz spectrum view.
        for (int i = 0; i < 3; ++i) {
            unit.pressButton(6);
            usleep(300000);
        }
        sleep(3);
        const double cpu0 = ctl.cpuSeconds();
        const unsigned long sent0 = unit.transceivers()->messagesSent();
        sleep(static_cast<unsigned>(kMeasureSeconds));
        const double cpu = ctl.cpuSeconds() - cpu0;
        state.counters["cpu_percent_of_core"] = cpu / kMeasureSeconds * 100;
        state.counters["messages_per_s"] =
            static_cast<double>(unit.transceivers()->messagesSent() - sent0) / kMeasureSeconds;
        ctl.terminate();
        ctl.waitExit(30);
        unit.stop();
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(ControllerCpuWhileStreaming)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
