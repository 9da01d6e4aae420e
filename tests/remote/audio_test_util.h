#pragma once
// Helpers of the remote-audio tests: samples out of raw 16-bit little-endian bytes, and what
// a tone looks like (its frequency from interpolated zero crossings, its quiet stretches).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace audiotest {

// Channel ch of interleaved 16-bit little-endian frames of `channels` channels.
inline std::vector<int16_t> channel(const std::string& bytes, int channels, int ch, size_t skipFrames = 0)
{
    std::vector<int16_t> out;
    const size_t frameBytes = 2 * static_cast<size_t>(channels);
    for (size_t f = skipFrames; (f + 1) * frameBytes <= bytes.size(); f++) {
        const size_t at = f * frameBytes + 2 * static_cast<size_t>(ch);
        out.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8)));
    }
    return out;
}

// Frequency in Hz of a steady tone at 48 kHz, from its rising zero crossings (interpolated
// between samples); 0 when there are fewer than two.
inline double toneHz(const std::vector<int16_t>& s, double rate = 48000)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < s.size(); i++) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            const double at = static_cast<double>(i - 1) + static_cast<double>(-s[i - 1]) / (s[i] - s[i - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * rate / (last - first);
}

// The longest run (in samples) of whole 1 ms windows whose peak stays below level: a gap in
// a tone of a larger amplitude.
inline size_t longestQuiet(const std::vector<int16_t>& s, int level, size_t window = 48)
{
    size_t longest = 0, run = 0;
    for (size_t start = 0; start + window <= s.size(); start += window) {
        int peak = 0;
        for (size_t i = start; i < start + window; i++)
            peak = std::max(peak, std::abs(static_cast<int>(s[i])));
        run = peak < level ? run + window : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// Interleaved stereo bytes of a sine (both channels alike), frames long, from phase frame `from`.
inline std::string stereoTone(double hz, int amplitude, size_t frames, size_t from = 0, double rate = 48000)
{
    std::string out(frames * 4, '\0');
    for (size_t f = 0; f < frames; f++) {
        const auto v = static_cast<uint16_t>(
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(from + f) / rate))));
        for (int c = 0; c < 2; c++) {
            out[4 * f + 2 * static_cast<size_t>(c)] = static_cast<char>(v & 0xff);
            out[4 * f + 2 * static_cast<size_t>(c) + 1] = static_cast<char>(v >> 8);
        }
    }
    return out;
}

} // namespace audiotest
