#pragma once
// Automatic tuning run in-process against the simulated tuner and antenna load: each poll
// is one status reply of the board (readings of the tuner word the previous step sent,
// through the board physics and the controller's own power and SWR conversion), followed
// by what the link does after a status reply while a tune runs: one TuneTask step, or the
// "CPFFFF;" poll after an amplifier error. Commands the tuner queues are taken off the
// queue as the link would send them.
#include "antenna_loads.h"
#include "board_physics.h"

#include <cstdint>
#include <random>

struct Works;

namespace sim {

// The board physics' reflection for an antenna load seen through the simulated tuner:
// physics.setReflection(loadThroughTuner(resonantDipole())). The board takes the frequency
// from its "FA" setting and the tuner word from "MT1".
BoardPhysics::Reflection loadThroughTuner(const AntennaLoad& load);
// Each antenna output with its own antenna (antennaOnOutput) behind the tuner: the load
// follows the board's "SA" setting.
BoardPhysics::Reflection antennasThroughTuner();

struct TuningOutcome {
    int polls = 0;          // status replies from the start until the tune ended
    bool ended = false;     // false: still running after the poll limit
    uint32_t word = 0;      // tune word at the end
    double swr = 0;         // true SWR of that word on the load
    int relayChanges = 0;   // relays switched between consecutive words (L, C and mode relays)
};

// Relays that differ between two tune words: the 18 inductor and capacitor bits and the
// three mode bits.
int relaysSwitched(uint32_t from, uint32_t to);

class TuningSession {
public:
    // Works must outlive the session; frequency and antenna load are those of the run.
    TuningSession(Works* works, const AntennaLoad& load, double frequencyHz, double driveWatts = 5.0);
    // A load of one impedance at the frequency of the run.
    TuningSession(Works* works, Impedance load, double frequencyHz, double driveWatts = 5.0);

    // Noise of the directional bridge on the raw forward and reflected readings: Gaussian,
    // sigma = relative x reading + counts (ADC counts), from a seeded generator. Off (0, 0)
    // by default: the readings are then exact up to the ADC's rounding.
    void setReadingNoise(double relative, double counts, uint32_t seed);

    // The readings of one status reply for the present tuner word, into works.
    void statusPoll();
    // StartAutotune, the start burst taken off the queue, then polls until the tune ends.
    TuningOutcome run(int pollLimit = 2000);
    // The true SWR of a word on this load.
    double trueSwr(uint32_t word) const;
    // The lowest SWR over every setting of both network sides (2 x 512 x 512).
    double bruteForceBest(uint32_t* bestWord = nullptr) const;

private:
    void drainQueue();

    int noisyReading(int raw);

    Works* works_;
    double frequency_;
    Impedance loadZ_;
    BoardPhysics physics_;
    double noiseRelative_ = 0;
    double noiseCounts_ = 0;
    std::mt19937 noise_;
};

} // namespace sim
