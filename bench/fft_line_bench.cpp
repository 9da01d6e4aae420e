// The receiver's spectrum line per transform size, side by side with FFTW's bare transform
// of the same size in the same run:
//   FftLine/N     window + transform + magnitudes + dB + decimation (fftLine, as the
//                 reader makes every line)
//   FftwBare/N    fftw_execute alone on a plan of the same size measured the same way
// The difference between the two is the cost of the line around the transform.
#include "transceiver/fft_line.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<float> noisyBlock()
{
    std::mt19937 gen(3);
    std::normal_distribution<float> noise(0, 1e-5f);
    std::vector<float> iq(8192);
    for (size_t i = 0; i < 4096; ++i) {
        const double phase = 2 * M_PI * 128.0 * static_cast<double>(i) / 2048;
        iq[2 * i] = static_cast<float>(0.01 * std::cos(phase)) + noise(gen);
        iq[2 * i + 1] = static_cast<float>(0.01 * std::sin(phase)) + noise(gen);
    }
    return iq;
}

void FftLine(benchmark::State& state)
{
    const int points = static_cast<int>(state.range(0));
    FftWorkPtr work = createFftWork(points);
    const std::vector<float> iq = noisyBlock();
    std::vector<uint8_t> line(SPECTRUM_LINE_MAX);
    for (auto _ : state) {
        benchmark::DoNotOptimize(fftLine(*work, iq.data(), iq.size(), line.data()));
        benchmark::ClobberMemory();
    }
    state.counters["line_bytes"] = spectrumLineLength(points);
}

void FftwBare(benchmark::State& state)
{
    const int points = static_cast<int>(state.range(0));
    // Out of place, so that every run transforms the same input (in place, repeated
    // transforms would grow the values to infinity).
    const size_t bytes = sizeof(fftw_complex) * static_cast<size_t>(points);
    auto* in = static_cast<fftw_complex*>(fftw_malloc(bytes));
    auto* out = static_cast<fftw_complex*>(fftw_malloc(bytes));
    fftw_plan plan = fftw_plan_dft_1d(points, in, out, FFTW_FORWARD, FFTW_MEASURE);
    const std::vector<float> iq = noisyBlock();
    for (int j = 0; j < points; ++j) {
        in[j][0] = iq[2 * static_cast<size_t>(j)];
        in[j][1] = iq[2 * static_cast<size_t>(j) + 1];
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}

} // namespace

BENCHMARK(FftLine)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(FftwBare)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
