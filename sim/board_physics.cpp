#include "board_physics.h"

#include "tuner_network.h"

#include "amplifier/measurements.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr double kEfficiency = 0.55;     // RF out / DC in of the final stage
constexpr double kIdleDissipation = 15;  // W, bias of the final stage while not bypassed
constexpr double kSinkResistance = 0.35; // degrees per W to ambient, fan stopped
constexpr double kBoardShare = 0.6;      // the board sensor sees this share of the rise
constexpr double kTau1 = 60;             // s, heat sink
constexpr double kTau2 = 120;            // s, board
constexpr double kCurrentFullScale = 14.05;
constexpr int kRawMax = 9999;            // four digits on the wire
} // namespace

Calibration defaultCalibration()
{
    return {K_DEFAULT_FWD, K_DEFAULT_REFL, K_DEFAULT_IN, K_DEFAULT_DIR};
}

double truthSwr(const PhysicsTruth& t)
{
    if (t.forward <= 0)
        return 0;
    return swrFromGamma(std::sqrt(std::min(1.0, t.reflected / t.forward)));
}

int rawFromPower(double watts, double k)
{
    if (watts <= 0 || k <= 0)
        return 0;
    return std::clamp(static_cast<int>(std::lround(std::sqrt(watts / k))), 0, kRawMax);
}

int rawFromTemperature(double celsius)
{
    const double t = std::clamp(celsius, static_cast<double>(K_T_R[0].celsius),
                                static_cast<double>(K_T_R[K_T_R_SIZE - 1].celsius));
    double r = K_T_R[K_T_R_SIZE - 1].kiloOhm;
    for (int i = 1; i < K_T_R_SIZE; i++) {
        const ThermistorPoint& p = K_T_R[i - 1];
        const ThermistorPoint& q = K_T_R[i];
        if (t <= q.celsius) {
            r = p.kiloOhm + (q.kiloOhm - p.kiloOhm) * (t - p.celsius) / (q.celsius - p.celsius);
            break;
        }
    }
    return std::clamp(static_cast<int>(std::lround(4095.0 * r / (10.0 + r))), 0, 4095);
}

BoardPhysics::BoardPhysics() : cal_(defaultCalibration())
{
    truth_.temp1 = ambient_;
    truth_.temp2 = ambient_;
}

AmpBoardState::Physics BoardPhysics::hook()
{
    return [this](const BoardSettings& s, StatusReadings& r) { apply(s, r); };
}

namespace {
double gammaOfSwr(double swr)
{
    return (swr - 1.0) / (swr + 1.0);
}
} // namespace

double BoardPhysics::reflectionLocked(const BoardSettings& s) const
{
    if (reflection_) {
        // No frequency set yet (or a load the model cannot evaluate): all is reflected.
        const double gamma = reflection_(s.frequencySet, s.tuneWord, s.antenna);
        return std::isfinite(gamma) ? std::clamp(gamma, 0.0, 1.0) : 1.0;
    }
    return gammaOfSwr(loadSwr_);
}

void BoardPhysics::apply(const BoardSettings& s, StatusReadings& r)
{
    std::lock_guard lock(mutex_);
    const double now = monoSeconds();
    const double dt = lastSeconds_ < 0 ? 0 : (now - lastSeconds_) * timeScale_;
    lastSeconds_ = now;

    const bool tripped = r.swrTrip || (r.faultByte & 0x7F) != 0;
    const bool amplifying = !s.bypass && !tripped;
    const double padsDb = ((s.attenuatorCode & 2) ? 3.0 : 0.0) + ((s.attenuatorCode & 1) ? 2.0 : 0.0);
    double forward = drive_;
    if (amplifying)
        forward = std::min(maxOutput_, drive_ * std::pow(10.0, (gainDb_ - padsDb) / 10.0));
    const double gamma = reflectionLocked(s);
    const double reflected = forward * gamma * gamma;
    const double dcPower = amplifying ? kIdleDissipation + forward / kEfficiency : 0.0;
    const double dissipation = amplifying ? dcPower - forward + reflected : 0.0;

    // First-order heating towards the equilibrium the dissipation and the fan set.
    const int fan = fanOverride_ >= 0 ? fanOverride_ : s.fanPercent;
    const double resistance = kSinkResistance / (1.0 + 3.0 * fan / 100.0);
    const double rise = dissipation * resistance;
    truth_.temp1 += (ambient_ + rise - truth_.temp1) * (1.0 - std::exp(-dt / kTau1));
    truth_.temp2 += (ambient_ + kBoardShare * rise - truth_.temp2) * (1.0 - std::exp(-dt / kTau2));

    truth_.drive = drive_;
    truth_.forward = forward;
    truth_.reflected = reflected;
    truth_.supplyCurrent = dcPower / supplyVolts_;
    truth_.dissipation = dissipation;
    truth_.fanPercent = fan;
    truth_.tripped = tripped;

    r.transmitting = drive_ > 0;
    r.rawIn = rawFromPower(drive_, cal_.kIn);
    r.rawFwd = rawFromPower(forward, cal_.kFwd);
    // The controller adds kDir x forward to its reflected reading; the board's reading is
    // what is left of the true reflected power.
    r.rawRefl = rawFromPower(reflected - cal_.kDir * forward, cal_.kRefl);
    r.rawPeakFwd = r.rawFwd;
    r.rawCurrent = std::clamp(static_cast<int>(std::lround(truth_.supplyCurrent * 4096.0 / kCurrentFullScale)), 0,
                              4095);
    r.rawTherm1 = rawFromTemperature(truth_.temp1);
    r.rawTherm2 = rawFromTemperature(truth_.temp2);

    // The board's own protection against the thresholds it was given (0: not yet given).
    const auto over = [](int reading, int threshold) { return threshold > 0 && reading > threshold; };
    if (over(r.rawFwd, s.ts[1]) || over(r.rawRefl, s.ts[2]))
        r.swrTrip = true;
    if (over(r.rawIn, s.ts[0]))
        r.faultByte |= 0x20;
    if (over(r.rawCurrent, s.ts[3]))
        r.faultByte |= 0x01;
}

void BoardPhysics::setCalibration(const Calibration& c)
{
    std::lock_guard lock(mutex_);
    cal_ = c;
}

void BoardPhysics::setDrivePower(double watts)
{
    std::lock_guard lock(mutex_);
    drive_ = std::max(0.0, watts);
}

void BoardPhysics::setGainDb(double db)
{
    std::lock_guard lock(mutex_);
    gainDb_ = db;
}

void BoardPhysics::setMaxOutput(double watts)
{
    std::lock_guard lock(mutex_);
    maxOutput_ = watts;
}

void BoardPhysics::setLoadSwr(double swr)
{
    std::lock_guard lock(mutex_);
    loadSwr_ = std::max(1.0, swr);
}

void BoardPhysics::setReflection(Reflection reflection)
{
    std::lock_guard lock(mutex_);
    reflection_ = std::move(reflection);
}

void BoardPhysics::setSupplyVolts(double volts)
{
    std::lock_guard lock(mutex_);
    supplyVolts_ = volts > 0 ? volts : 50;
}

void BoardPhysics::setAmbient(double celsius)
{
    std::lock_guard lock(mutex_);
    ambient_ = celsius;
}

void BoardPhysics::setTemperatures(double temp1, double temp2)
{
    std::lock_guard lock(mutex_);
    truth_.temp1 = temp1;
    truth_.temp2 = temp2;
}

void BoardPhysics::setFanOverride(int percent)
{
    std::lock_guard lock(mutex_);
    fanOverride_ = percent < 0 ? -1 : std::min(percent, 100);
}

void BoardPhysics::setTimeScale(double scale)
{
    std::lock_guard lock(mutex_);
    timeScale_ = std::max(0.0, scale);
}

BoardPhysics::Reflection BoardPhysics::reflection() const
{
    std::lock_guard lock(mutex_);
    if (reflection_)
        return reflection_;
    const double gamma = gammaOfSwr(loadSwr_);
    return [gamma](uint64_t, uint32_t, int) { return gamma; };
}

PhysicsTruth BoardPhysics::truth() const
{
    std::lock_guard lock(mutex_);
    return truth_;
}

} // namespace sim
