// Tuning report: for each scenario load and frequency, the SWR each search of the
// automatic tuner ends with and the status polls it took (in-process, one TuneTask step
// per simulated status reply), beside the best SWR any of the 2 x 512 x 512 settings of
// the simulated tuner reaches on that load (brute force). Then the time of one status
// step and of the brute-force sweep.
#include "antenna_loads.h"
#include "core/setup.h"
#include "core/works.h"
#include "root_builder.h"
#include "tuner/autotune.h"
#include "tuning_session.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

struct Case {
    sim::AntennaLoad load;
    double mhz;
};

std::vector<Case> cases()
{
    const sim::AntennaLoad dipole = sim::resonantDipole();
    const sim::AntennaLoad vertical = sim::shortVertical();
    const sim::AntennaLoad wire = sim::endFedWire();
    return {
        {dipole, 1.85}, {dipole, 3.6},   {dipole, 7.1},   {dipole, 14.2},  {dipole, 21.2},  {dipole, 50.2},
        {vertical, 3.6}, {vertical, 7.1}, {vertical, 10.12}, {vertical, 14.2}, {vertical, 28.5},
        {wire, 1.9},    {wire, 7.05},   {wire, 18.1},    {wire, 24.95},   {wire, 28.5},
    };
}

// Five presets for the band, spread over the network's range and scaled to the frequency
// (about 1/f), as a maker's band table might hold them; step 4.
ConfigRow presetRow(double hz)
{
    ConfigRow row;
    const int l[5] = {20, 60, 140, 260, 420};
    const int c[5] = {30, 90, 180, 300, 460};
    const double scale = 7.0e6 / hz;
    for (int k = 0; k < 5; ++k) {
        row.presetL[k] = std::min(511, static_cast<int>(std::lround(l[k] * std::sqrt(scale))));
        row.presetC[k] = std::min(511, static_cast<int>(std::lround(c[k] * std::sqrt(scale))));
    }
    row.step = 4;
    return row;
}

struct Controller {
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    explicit Controller(double hz, char tipo)
    {
        works->setup = setup.get();
        setup->AutoTuneTipo = tipo;
        works->txOn = 1;
        works->autoTuneMaxCicli = 0;
        works->swrEscAutoTune = 0;
        works->cpFlag = 1;  // the error list stays quiet; the report looks at SWR only
        ConfigRow row = presetRow(hz);
        row.freqStart = static_cast<uint32_t>(hz - 1000);
        ConfigRow closing;
        closing.freqStart = static_cast<uint32_t>(hz + 1000);
        works->configRows = {row, closing};
        works->configRowCount = 2;
        works->tuneval = 1u << 23;
    }
};

void printReport()
{
    printf("\nTuning report (drive 5 W, 50 W forward; no target SWR; cycle limit 600)\n");
    printf("%-16s %8s %18s | %-13s| %-13s| %-13s| %s\n", "load", "MHz", "Z load (ohm)", "complete", "preset",
           "fine after", "brute-force best");
    printf("%-16s %8s %18s | %-13s| %-13s| %-13s|\n", "", "", "", "SWR   polls", "SWR   polls", "SWR   polls");
    // The tuner logs every step on stderr; the report keeps it out of the table.
    const int savedErr = dup(2);
    for (const Case& c : cases()) {
        const double hz = c.mhz * 1e6;
        const sim::Impedance z = c.load.impedance(hz);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        close(devnull);
        Controller complete(hz, '0');
        sim::TuningSession s1(complete.works.get(), c.load, hz);
        const sim::TuningOutcome r1 = s1.run();
        // The fine search follows the complete search, as after a saved tune.
        complete.works->fineTuneOk = 1;
        const sim::TuningOutcome r3 = s1.run();
        Controller preset(hz, '1');
        sim::TuningSession s2(preset.works.get(), c.load, hz);
        const sim::TuningOutcome r2 = s2.run();
        const double best = s1.bruteForceBest();
        dup2(savedErr, 2);
        printf("%-16s %8.3f %8.1f%+9.1fj | %5.2f %5d%s| %5.2f %5d%s| %5.2f %5d%s| %5.2f\n", c.load.name.c_str(), c.mhz,
               z.real(), z.imag(), r1.swr, r1.polls, r1.ended ? "  " : "* ", r2.swr, r2.polls, r2.ended ? "  " : "* ",
               r3.swr, r3.polls, r3.ended ? "  " : "* ", best);
    }
    close(savedErr);
    printf("(* = still running at the poll limit)\n\n");
    fflush(stdout);
}

void BM_BruteForceSweep(benchmark::State& state)
{
    Controller c(14.2e6, '0');
    sim::TuningSession s(c.works.get(), sim::resonantDipole(), 14.2e6);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.bruteForceBest());
}
BENCHMARK(BM_BruteForceSweep)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // Tunes the searches store go to a simulated root of their own, never to /opt/set.
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ampctl-tuning-report";
    const std::string root = sim::buildRoot(dir.string());
    setenv("AMPCTL_ROOT", root.c_str(), 1);
    const char* path = getenv("PATH");
    setenv("PATH", (root + "/bin:" + root + "/usr/bin:" + (path ? path : "")).c_str(), 1);
    printReport();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);
    return 0;
}
