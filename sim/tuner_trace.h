#pragma once
// What the tuner did, as the simulated board saw it: each tuner word it was set to while RF
// was applied, with the SWR its own load model gave there (one point a status reply whose
// word differs from the last one), grouped into searches; and the SWR landscape of the load
// over the inductance and capacitance settings of one network mode, from the same model.
//
// A search starts with a word change under RF after the words stood still for a while (or
// on another frequency or antenna output); it is over once they stand still again. The web
// panel draws the path of the last search over the landscape of its network mode.
#include "board_physics.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

struct TracePoint {
    uint32_t word = 0;
    int l = 0;        // inductance step 0..511
    int c = 0;        // capacitance step 0..511
    int mode = 0;     // TUNE_MODE_CL, TUNE_MODE_LC or TUNE_MODE_BYPASS
    double swr = 0;   // the board model's SWR at this word
};

struct TunerPath {
    uint64_t version = 0;       // changes with every point and every new search
    uint64_t frequencyHz = 0;   // the board's "FA" setting during the search
    int antenna = 0;            // its output
    std::vector<TracePoint> points;
    double quietSeconds = 0;    // since the last word change
    bool running = false;       // words changed within the settle time
    int best = -1;              // index of the lowest SWR (-1: no points)
    int mapMode = 0;            // network mode of the landscape to draw (0: none, bypass only)
};

class TunerTrace {
public:
    // settleSeconds: words standing still this long end a search.
    explicit TunerTrace(double settleSeconds = 2.0);

    // One status reply: the board's settings, the true forward power and SWR at them, the
    // monotonic time.
    void observe(const BoardSettings& settings, double forwardWatts, double swr, double now);
    TunerPath path(double now) const;

private:
    mutable std::mutex mutex_;
    double settle_;
    TunerPath path_;
    double lastChange_ = -1e9;
    uint32_t lastWord_ = 0;
    double lastSwr_ = 0;
    bool lastUnderRf_ = false;
};

// The landscape: SWR at L = i x step, C = j x step (i, j = 0 .. size-1, size = 512 / step)
// for one network mode, at swr[i * size + j].
struct TunerMap {
    int mode = 0;
    int step = 0;
    int size = 0;
    std::vector<float> swr;
};

// The SWR the reflection gives for a tune word (capped at 100, as the board's own).
double swrOfWord(const BoardPhysics::Reflection& reflection, uint64_t frequencyHz, uint32_t word, int antenna);
// step must divide 512.
TunerMap tunerLandscape(const BoardPhysics::Reflection& reflection, uint64_t frequencyHz, int antenna, int mode,
                        int step);

} // namespace sim
