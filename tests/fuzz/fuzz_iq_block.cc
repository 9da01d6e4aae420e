// Fuzzes what the receiver hands over: a bulk block of any length and content and any
// calibration floats. Input: 8 bytes of raw offsets (global, preamplifier), the
// preamplifier level, a 16-bit block length (up to the full 32768 bytes), then the block's
// bytes, repeated to that length (so that short inputs reach full blocks and both line
// sizes). The block is scaled as the completion callback does and turned into lines of
// both sizes; every byte of a line stays in 0..242 and nothing reads past the block.
#include "fuzz_support.h"
#include "transceiver/fft_line.h"
#include "transceiver/iq_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FftWorkPtr small = createFftWork(FFT_POINTS_SMALL);
    static FftWorkPtr large = createFftWork(FFT_POINTS_LARGE);
    if (size < 11)
        return 0;
    float global = 0, lp = 0;
    std::memcpy(&global, data, 4);
    std::memcpy(&lp, data + 4, 4);
    const int lpLevel = static_cast<int8_t>(data[8]);
    const size_t length = (static_cast<size_t>(data[9]) | static_cast<size_t>(data[10]) << 8) % (IQ_BLOCK_BYTES + 1);
    data += 11;
    size -= 11;
    // The block as the transfer delivered it, in a buffer of exactly its length.
    std::vector<uint8_t> raw(length, 0);
    for (size_t i = 0; size > 0 && i < length; ++i)
        raw[i] = data[i % size];
    std::vector<float> samples(IQ_BLOCK_VALUES);
    const size_t count = iqScale(raw.data(), static_cast<int>(raw.size()), iqGain(global, lp, lpLevel), samples.data());
    if (count != length / 4)
        fuzz::fail("%zu values from %zu bytes", count, length);
    std::vector<uint8_t> line(SPECTRUM_LINE_MAX);
    for (FftWork* work : {small.get(), large.get()}) {
        const int n = fftLine(*work, samples.data(), count, line.data());
        const int points = fftWorkPoints(*work);
        if (n != (count >= 2 * static_cast<size_t>(points) ? spectrumLineLength(points) : 0))
            fuzz::fail("line of %d bytes from %zu values", n, count);
        for (int k = 0; k < n; ++k)
            if (line[static_cast<size_t>(k)] > 242)
                fuzz::fail("byte %d of the line is %d", k, line[static_cast<size_t>(k)]);
    }
    return 0;
}
