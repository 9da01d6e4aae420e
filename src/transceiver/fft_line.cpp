#include "transceiver/fft_line.h"

#include "platform/log.h"

#include <cmath>
#include <fftw3.h>
#include <new>
#include <vector>

struct FftWork {
    int points = 0;
    std::vector<double> window;
    fftw_complex* data = nullptr;
    fftw_plan plan = nullptr;
};

void FftWorkDeleter::operator()(FftWork* work) const
{
    if (!work)
        return;
    if (work->plan)
        fftw_destroy_plan(work->plan);
    if (work->data)
        fftw_free(work->data);
    delete work;
}

int spectrumLineLength(int points)
{
    switch (points) {
    case FFT_POINTS_SMALL:
        return 854;
    case FFT_POINTS_LARGE:
        return 1706;
    default:
        return 0;
    }
}

int spectrumLineStart(int points)
{
    return points == FFT_POINTS_LARGE ? 341 : 170;
}

int spectrumLineBin(int points, int k)
{
    const int half = points / 2;
    const int position = spectrumLineStart(points) + 2 * k;
    return position >= half ? position - half : position + half;
}

double fftWindow(int points, int i)
{
    if (i <= 0)
        return 0.0;
    const double x = 2.0 * M_PI * i / (points - 1);
    return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
}

uint8_t spectrumByte(double power)
{
    const double db = 10.0 * std::log10(power);
    // Written so that NaN falls into the first branch.
    if (!(db > -192.0))
        return 0;
    if (db >= 50.0)
        return 242;
    return static_cast<uint8_t>(192 + static_cast<int>(db));
}

FftWorkPtr createFftWork(int points)
{
    if (spectrumLineLength(points) == 0)
        return nullptr;
    FftWorkPtr work(new (std::nothrow) FftWork);
    if (!work) {
        logSys(LOG_ERR, "error allocating coeff buffer");
        return nullptr;
    }
    work->points = points;
    work->window.resize(static_cast<size_t>(points));
    for (int i = 0; i < points; ++i)
        work->window[static_cast<size_t>(i)] = fftWindow(points, i);
    work->data = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * static_cast<size_t>(points)));
    if (!work->data) {
        logSys(LOG_ERR, "error allocating fftr buffer");
        return nullptr;
    }
    // Measured once per size (the plan overwrites the area while it measures), then reused
    // for every line.
    work->plan = fftw_plan_dft_1d(points, work->data, work->data, FFTW_FORWARD, FFTW_MEASURE);
    if (!work->plan) {
        logSys(LOG_ERR, "error allocating fftr buffer");
        return nullptr;
    }
    return work;
}

int fftWorkPoints(const FftWork& work)
{
    return work.points;
}

int fftLine(FftWork& work, const float* iq, size_t values, uint8_t* line)
{
    const int n = work.points;
    if (values < 2 * static_cast<size_t>(n))
        return 0;
    fftw_complex* x = work.data;
    const double* w = work.window.data();
    for (int j = 0; j < n; ++j) {
        x[j][0] = iq[2 * j] * w[j];
        x[j][1] = iq[2 * j + 1] * w[j];
    }
    fftw_execute(work.plan);

    // Only the bins the line keeps are turned into dB.
    const double scale = 1.0 / (static_cast<double>(n / 2) * static_cast<double>(n / 2));
    const int length = spectrumLineLength(n);
    for (int k = 0; k < length; ++k) {
        const fftw_complex& b = x[spectrumLineBin(n, k)];
        line[k] = spectrumByte((b[0] * b[0] + b[1] * b[1]) * scale);
    }
    return length;
}
