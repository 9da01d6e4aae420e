#include "tuning_session.h"

#include "amplifier/link.h"
#include "amplifier/measurements.h"
#include "core/works.h"
#include "tuner/autotune.h"
#include "tuner/tune_word.h"

#include <algorithm>
#include <bit>

namespace sim {

BoardPhysics::Reflection loadThroughTuner(const AntennaLoad& load)
{
    return [load](uint64_t hz, uint32_t word, int) {
        const double f = static_cast<double>(hz);
        return tunerNetwork(word, f, load.impedance(f)).gamma;
    };
}

BoardPhysics::Reflection antennasThroughTuner()
{
    const AntennaLoad loads[3] = {antennaOnOutput(1), antennaOnOutput(2), antennaOnOutput(3)};
    return [loads](uint64_t hz, uint32_t word, int antenna) {
        const double f = static_cast<double>(hz);
        return tunerNetwork(word, f, loads[std::clamp(antenna, 1, 3) - 1].impedance(f)).gamma;
    };
}

int relaysSwitched(uint32_t from, uint32_t to)
{
    constexpr uint32_t relays = 0x00BFFFFEu & ~(1u << 17) & ~(1u << 22);
    return std::popcount((from ^ to) & relays);
}

TuningSession::TuningSession(Works* works, const AntennaLoad& load, double frequencyHz, double driveWatts)
    : TuningSession(works, load.impedance(frequencyHz), frequencyHz, driveWatts)
{
}

TuningSession::TuningSession(Works* works, Impedance load, double frequencyHz, double driveWatts)
    : works_(works), frequency_(frequencyHz), loadZ_(load)
{
    physics_.setCalibration(defaultCalibration());
    physics_.setDrivePower(driveWatts);
    physics_.setReflection(
        [load](uint64_t hz, uint32_t word, int) { return tunerNetwork(word, static_cast<double>(hz), load).gamma; });
    works_->frequency = static_cast<uint32_t>(frequencyHz);
}

void TuningSession::setReadingNoise(double relative, double counts, uint32_t seed)
{
    noiseRelative_ = relative;
    noiseCounts_ = counts;
    noise_.seed(seed);
}

int TuningSession::noisyReading(int raw)
{
    const double sigma = noiseRelative_ * raw + noiseCounts_;
    if (sigma <= 0 || raw <= 0)
        return raw;
    std::normal_distribution<double> spread(0.0, sigma);
    return std::max(0, static_cast<int>(std::lround(raw + spread(noise_))));
}

double TuningSession::trueSwr(uint32_t word) const
{
    return tunerNetwork(word, frequency_, loadZ_).swr;
}

double TuningSession::bruteForceBest(uint32_t* bestWord) const
{
    double best = 1e9;
    for (int mode : {TUNE_MODE_CL, TUNE_MODE_LC}) {
        for (int l = 0; l < 512; ++l) {
            const uint32_t withL = tunewordWithL(tunewordWithMode(0, mode), l);
            for (int c = 0; c < 512; ++c) {
                const uint32_t word = tunewordWithC(withL, c);
                const double swr = tunerNetwork(word, frequency_, loadZ_).swr;
                if (swr < best) {
                    best = swr;
                    if (bestWord)
                        *bestWord = word;
                }
            }
        }
    }
    return best;
}

void TuningSession::statusPoll()
{
    BoardSettings settings;
    settings.frequencySet = static_cast<uint64_t>(frequency_);
    settings.tuneWord = works_->tuneval;
    StatusReadings readings;
    physics_.apply(settings, readings);
    readings.rawFwd = noisyReading(readings.rawFwd);
    readings.rawRefl = noisyReading(readings.rawRefl);
    // The controller's conversion of the reply (default calibration, no config.txt).
    const float forward = K_DEFAULT_FWD * static_cast<float>(readings.rawFwd) * static_cast<float>(readings.rawFwd);
    const float reflected = std::max(
        0.0f, K_DEFAULT_REFL * static_cast<float>(readings.rawRefl) * static_cast<float>(readings.rawRefl) +
                  K_DEFAULT_DIR * forward);
    works_->pwrFwd = forward;
    works_->pwrRefl = reflected;
    works_->swr = swrFromPowers(forward, reflected);
    works_->statoAmp[1] = readings.transmitting ? 0x01 : 0x00;
}

void TuningSession::drainQueue()
{
    while (takeQueuedCmd(works_) >= 0) {
    }
    works_->cmdBurst = 0;
}

TuningOutcome TuningSession::run(int pollLimit)
{
    TuningOutcome out;
    StartAutotune(works_);
    ServeTuneRequests(works_);
    drainQueue();
    uint32_t sent = works_->tuneval;
    while (out.polls < pollLimit && works_->tuneStatus != 0) {
        statusPoll();
        ++out.polls;
        if (works_->tuneStatus == 2)
            works_->tuneStatus = 1;
        else
            TuneTask(works_);
        drainQueue();
        out.relayChanges += relaysSwitched(sent, works_->tuneval);
        sent = works_->tuneval;
    }
    out.ended = works_->tuneStatus == 0;
    out.word = works_->tuneval;
    out.swr = trueSwr(out.word);
    return out;
}

} // namespace sim
