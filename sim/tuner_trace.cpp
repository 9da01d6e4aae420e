#include "tuner_trace.h"

#include "tuner/tune_word.h"
#include "tuner_network.h"

namespace sim {

TunerTrace::TunerTrace(double settleSeconds) : settle_(settleSeconds)
{
}

void TunerTrace::observe(const BoardSettings& s, double forwardWatts, double swr, double now)
{
    std::lock_guard lock(mutex_);
    const bool underRf = forwardWatts > 0;
    const uint32_t previousWord = lastWord_;
    const double previousSwr = lastSwr_;
    const bool previousUnderRf = lastUnderRf_;
    lastWord_ = s.tuneWord;
    lastSwr_ = swr;
    lastUnderRf_ = underRf;
    if (!underRf || s.tuneWord == previousWord)
        return;

    auto point = [](uint32_t word, double pointSwr) {
        TracePoint p;
        p.word = word;
        p.l = DecodeInduttanzaFromTuneval(word);
        p.c = DecodeCapacitaFromTuneval(word);
        // As the board's relays take it: the bypass relay wins, then side B.
        p.mode = (word & TUNE_BIT_BYPASS) ? TUNE_MODE_BYPASS
                 : (word & TUNE_BIT_SIDE_B) ? TUNE_MODE_CL
                 : (word & TUNE_BIT_SIDE_A) ? TUNE_MODE_LC
                                            : TUNE_MODE_BYPASS;
        p.swr = pointSwr;
        return p;
    };
    const bool newSearch = path_.points.empty() || now - lastChange_ > settle_ ||
                           s.frequencySet != path_.frequencyHz || s.antenna != path_.antenna;
    if (newSearch) {
        path_.points.clear();
        path_.frequencyHz = s.frequencySet;
        path_.antenna = s.antenna;
        // Where the search started from, when it was measured under RF.
        if (previousUnderRf)
            path_.points.push_back(point(previousWord, previousSwr));
    }
    path_.points.push_back(point(s.tuneWord, swr));
    ++path_.version;
    lastChange_ = now;
}

TunerPath TunerTrace::path(double now) const
{
    std::lock_guard lock(mutex_);
    TunerPath p = path_;
    p.quietSeconds = now - lastChange_;
    p.running = !p.points.empty() && p.quietSeconds < settle_;
    for (size_t i = 0; i < p.points.size(); ++i) {
        if (p.best < 0 || p.points[i].swr < p.points[static_cast<size_t>(p.best)].swr)
            p.best = static_cast<int>(i);
        // The mode of the latest point that has a network.
        if (p.points[i].mode != TUNE_MODE_BYPASS)
            p.mapMode = p.points[i].mode;
    }
    return p;
}

double swrOfWord(const BoardPhysics::Reflection& reflection, uint64_t frequencyHz, uint32_t word, int antenna)
{
    return swrFromGamma(reflection(frequencyHz, word, antenna));
}

TunerMap tunerLandscape(const BoardPhysics::Reflection& reflection, uint64_t frequencyHz, int antenna, int mode,
                        int step)
{
    TunerMap map;
    map.mode = mode;
    map.step = step;
    map.size = 512 / step;
    map.swr.resize(static_cast<size_t>(map.size) * static_cast<size_t>(map.size));
    const uint32_t modeWord = tunewordWithMode(0, mode);
    for (int i = 0; i < map.size; ++i) {
        const uint32_t withL = tunewordWithL(modeWord, i * step);
        for (int j = 0; j < map.size; ++j) {
            map.swr[static_cast<size_t>(i * map.size + j)] =
                static_cast<float>(swrOfWord(reflection, frequencyHz, tunewordWithC(withL, j * step), antenna));
        }
    }
    return map;
}

} // namespace sim
