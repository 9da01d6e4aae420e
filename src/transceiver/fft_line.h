#pragma once
// One spectrum line from a block of the receiver's I/Q samples: a 4-term Blackman-Harris
// window, the complex transform (FFTW, planned once per size and reused), magnitudes in dB
// as bytes (dB + 192, 0..242), zero frequency moved to the middle, and every second bin of
// the central part kept.
//
//   points   line bytes   positions kept (after the reordering)
//   2048     854          170, 172, ..., 1876
//   4096     1706         341, 343, ..., 3751
#include <cstddef>
#include <cstdint>
#include <memory>

constexpr int FFT_POINTS_SMALL = 2048;
constexpr int FFT_POINTS_LARGE = 4096;
constexpr int SPECTRUM_LINE_MAX = 1706;

// Bytes of the line for a transform of `points`; 0 for a size not supported.
int spectrumLineLength(int points);
// The first position of the reordered spectrum the line keeps (170 or 341).
int spectrumLineStart(int points);
// The transform bin shown at line index k.
int spectrumLineBin(int points, int k);
// Window coefficient i (0..points-1); the first one is 0.
double fftWindow(int points, int i);
// A bin's power (squared magnitude after the 1/(points/2) scaling) as a line byte: dB
// truncated toward zero, clamped to -192..50, plus 192. Zero, NaN and infinity are safe.
uint8_t spectrumByte(double power);

// The window, transform plan and work area of one size.
struct FftWork;
struct FftWorkDeleter {
    void operator()(FftWork* work) const;
};
using FftWorkPtr = std::unique_ptr<FftWork, FftWorkDeleter>;

// Builds the tables and plans the transform; nullptr for an unsupported size or when the
// work area cannot be allocated (what failed is logged).
FftWorkPtr createFftWork(int points);
int fftWorkPoints(const FftWork& work);
// The line of the first `points` complex samples of iq (interleaved I, Q: `values` floats)
// into line (at least spectrumLineLength(points) bytes). Returns the line's length, or 0
// when the block holds fewer than 2 x points values (nothing is written then).
int fftLine(FftWork& work, const float* iq, size_t values, uint8_t* line);
