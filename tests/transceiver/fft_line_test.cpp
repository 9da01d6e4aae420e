// The spectrum line against a plain DFT written from the definition: the same window,
// scaling, reordering and decimation, computed bin by bin in long double.
#include "transceiver/fft_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

// 4-term Blackman-Harris over points - 1 intervals, first coefficient 0.
long double window(int n, int i)
{
    if (i == 0)
        return 0;
    const long double x = 2.0L * 3.14159265358979323846264338327950288L * i / (n - 1);
    return 0.35875L - 0.48829L * std::cos(x) + 0.14128L * std::cos(2 * x) - 0.01168L * std::cos(3 * x);
}

std::vector<uint8_t> referenceLine(int n, const std::vector<float>& iq)
{
    const int half = n / 2;
    const int start = n == 4096 ? 341 : 170;
    const int length = n == 4096 ? 1706 : 854;
    std::vector<std::complex<long double>> x(static_cast<size_t>(n)), twiddle(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        x[static_cast<size_t>(i)] = {iq[2 * static_cast<size_t>(i)] * window(n, i),
                                     iq[2 * static_cast<size_t>(i) + 1] * window(n, i)};
        const long double a = -2.0L * 3.14159265358979323846264338327950288L * i / n;
        twiddle[static_cast<size_t>(i)] = {std::cos(a), std::sin(a)};
    }
    std::vector<uint8_t> line;
    for (int k = 0; k < length; ++k) {
        const int p = start + 2 * k;
        const int bin = p >= half ? p - half : p + half;
        std::complex<long double> sum = 0;
        for (int i = 0; i < n; ++i)
            sum += x[static_cast<size_t>(i)] * twiddle[static_cast<size_t>((static_cast<long>(bin) * i) % n)];
        const long double m = std::abs(sum) / half;
        long double db = m > 0 ? std::trunc(20 * std::log10(m)) : -192;
        db = std::clamp(db, -192.0L, 50.0L);
        line.push_back(static_cast<uint8_t>(db + 192));
    }
    return line;
}

std::vector<uint8_t> productLine(int n, const std::vector<float>& iq)
{
    FftWorkPtr work = createFftWork(n);
    EXPECT_TRUE(work);
    if (!work)
        return {};
    std::vector<uint8_t> line(SPECTRUM_LINE_MAX + 1, 0xEE);
    const int length = fftLine(*work, iq.data(), iq.size(), line.data());
    EXPECT_EQ(spectrumLineLength(n), length);
    EXPECT_EQ(0xEE, line[static_cast<size_t>(length)]) << "written past the line";
    line.resize(static_cast<size_t>(length));
    return line;
}

// A block of 4096 complex samples: tones (cycles per block of n points, amplitude in full
// scale) and Gaussian noise of the given RMS.
std::vector<float> block(const std::vector<std::pair<double, double>>& tones, double noise, int n, unsigned seed = 7)
{
    std::mt19937 gen(seed);
    std::normal_distribution<double> gauss(0, noise);
    std::vector<float> iq(8192);
    for (size_t i = 0; i < 4096; ++i) {
        double re = noise > 0 ? gauss(gen) : 0, im = noise > 0 ? gauss(gen) : 0;
        for (const auto& [cycles, amplitude] : tones) {
            const double phase = 2 * M_PI * cycles * static_cast<double>(i) / n + 0.3;
            re += amplitude * std::cos(phase);
            im += amplitude * std::sin(phase);
        }
        iq[2 * i] = static_cast<float>(re);
        iq[2 * i + 1] = static_cast<float>(im);
    }
    return iq;
}

void expectWithinOne(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got)
{
    ASSERT_EQ(want.size(), got.size());
    int worst = 0;
    size_t at = 0;
    for (size_t k = 0; k < want.size(); ++k) {
        const int d = std::abs(static_cast<int>(want[k]) - static_cast<int>(got[k]));
        if (d > worst) {
            worst = d;
            at = k;
        }
    }
    EXPECT_LE(worst, 1) << "index " << at << ": reference " << int(want[at]) << ", line " << int(got[at]);
}

} // namespace

TEST(FftLine, MatchesAPlainDftForBothSizes)
{
    for (int n : {FFT_POINTS_SMALL, FFT_POINTS_LARGE}) {
        SCOPED_TRACE(n);
        // Tones on and between bins, positive and negative frequencies, strong and weak,
        // over noise: every byte of the line within 1 of the reference.
        const auto iq = block({{128, 0.5}, {-300.5, 0.01}, {77.25, 1e-4}, {-640, 0.2}}, 1e-6, n);
        expectWithinOne(referenceLine(n, iq), productLine(n, iq));
        // Noise alone, near the bottom of the scale.
        const auto quiet = block({}, 3e-9, n, 11);
        expectWithinOne(referenceLine(n, quiet), productLine(n, quiet));
    }
}

TEST(FftLine, ToneLandsAtItsBinWithTheWindowsGain)
{
    // A constant I (bin 0, full scale) is the middle of the spectrum: position 1024 of
    // 2048, index 427 of the line. Its level is the window's coherent gain: the sum of the
    // coefficients over half the points, about 0.7175 (-2.9 dB, truncated to -2).
    std::vector<float> dc(8192, 0.0f);
    for (size_t i = 0; i < dc.size(); i += 2)
        dc[i] = 1.0f;
    const auto line = productLine(FFT_POINTS_SMALL, dc);
    ASSERT_EQ(854u, line.size());
    EXPECT_EQ(1024, spectrumLineStart(FFT_POINTS_SMALL) + 2 * 427);
    EXPECT_EQ(0, spectrumLineBin(FFT_POINTS_SMALL, 427));
    EXPECT_EQ(192 - 2, line[427]);
    EXPECT_EQ(line[427], *std::max_element(line.begin(), line.end()));

    // A tone of +256 cycles per 4096 points and one of -1023 (odd bins: the 4096 line keeps
    // odd positions) at -40 dB full scale: index (2048 + 257 - 341) / 2 = 982 and
    // (2048 - 1023 - 341) / 2 = 342, each 40 dB under the DC case.
    const auto tones = productLine(FFT_POINTS_LARGE, block({{257, 0.01}, {-1023, 0.01}}, 0, FFT_POINTS_LARGE));
    ASSERT_EQ(1706u, tones.size());
    EXPECT_EQ(257, spectrumLineBin(FFT_POINTS_LARGE, 982));
    EXPECT_EQ(4096 - 1023, spectrumLineBin(FFT_POINTS_LARGE, 342));
    const double expectedDb = 20 * std::log10(0.01 * 0.35875 * 2);
    for (int k : {982, 342}) {
        EXPECT_NEAR(192 + expectedDb, tones[static_cast<size_t>(k)], 1.0) << k;
        EXPECT_LT(tones[static_cast<size_t>(k + 10)], tones[static_cast<size_t>(k)] - 60) << k;
    }
}

TEST(FftLine, EmptyAndShortBlocksAndExtremes)
{
    for (int n : {FFT_POINTS_SMALL, FFT_POINTS_LARGE}) {
        const auto line = productLine(n, std::vector<float>(8192, 0.0f));
        EXPECT_EQ(std::vector<uint8_t>(line.size(), 0), line) << n;
    }
    // A block shorter than the transform gives no line and writes nothing.
    FftWorkPtr work = createFftWork(FFT_POINTS_LARGE);
    ASSERT_TRUE(work);
    std::vector<float> half(4096, 1.0f);
    std::vector<uint8_t> line(SPECTRUM_LINE_MAX, 0x55);
    EXPECT_EQ(0, fftLine(*work, half.data(), half.size(), line.data()));
    EXPECT_EQ(std::vector<uint8_t>(SPECTRUM_LINE_MAX, 0x55), line);
    EXPECT_FALSE(createFftWork(1024));
    EXPECT_EQ(0, spectrumLineLength(1000));

    // Bytes: -inf, NaN and tiny powers at the bottom, huge and infinite ones at the top,
    // truncation toward zero in between.
    EXPECT_EQ(0, spectrumByte(0.0));
    EXPECT_EQ(0, spectrumByte(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(0, spectrumByte(1e-30));
    EXPECT_EQ(242, spectrumByte(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(242, spectrumByte(1e7));
    EXPECT_EQ(192, spectrumByte(1.0));
    EXPECT_EQ(192 - 5, spectrumByte(std::pow(10.0, -0.59)));
    EXPECT_EQ(192 + 5, spectrumByte(std::pow(10.0, 0.59)));
}
