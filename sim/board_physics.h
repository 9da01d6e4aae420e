#pragma once
// The physical side of the simulated amplifier board: true quantities (drive power, gain,
// load reflection, forward and reflected power, supply current, two temperatures that rise
// with dissipation and fall with the fan and with time) turned into the raw readings of the
// "ST" reply through the inverse of the controller's calibration and thermistor table.
//
//   sim::BoardPhysics physics;
//   physics.setCalibration({...});          // the factors config.txt gives the controller
//   unit.board().state().setPhysics(physics.hook());
//   physics.setDrivePower(10); physics.setLoadSwr(2.0);
//
// The hook runs under the board state's lock before every status reply. It keeps the
// fault bits that tests or commands set (latched until "CPFFFF;") and adds its own: a raw
// forward or reflected reading above the "TS" threshold trips the SWR protection bit, an
// input or current reading above its threshold sets the input-power or current fault.
// A tripped board passes the drive straight through until the protection is reset.
#include "amp_board_state.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace sim {

// Watts per raw unit squared, as the controller's band table holds them.
struct Calibration {
    double kFwd = 0;
    double kRefl = 0;
    double kIn = 0;
    double kDir = 0;
};
// The controller's factors without config.txt.
Calibration defaultCalibration();

// The true state of the board after the last status reply.
struct PhysicsTruth {
    double drive = 0;       // W into the board
    double forward = 0;     // W towards the load
    double reflected = 0;   // W back from the load
    double supplyCurrent = 0; // A
    double dissipation = 0; // W turned into heat
    double temp1 = 0;       // heat sink, degrees Celsius
    double temp2 = 0;       // board, degrees Celsius
    int fanPercent = 0;     // the fan's real speed
    bool tripped = false;
};

// The SWR of the true forward and reflected power (0 without RF, capped at 100).
double truthSwr(const PhysicsTruth& truth);
// Raw reading that the controller turns into `watts` with factor k (0 for no power).
int rawFromPower(double watts, double k);
// Raw 12-bit thermistor reading for a temperature (the inverse of the controller's table).
int rawFromTemperature(double celsius);

class BoardPhysics {
public:
    BoardPhysics();

    // |reflection coefficient| of the load for a frequency, tuner word and antenna output
    // (1..3, 0 before the controller chose one): 0 matched, 1 open.
    using Reflection = std::function<double(uint64_t frequencyHz, uint32_t tuneWord, int antenna)>;

    AmpBoardState::Physics hook();
    void apply(const BoardSettings& settings, StatusReadings& readings);

    void setCalibration(const Calibration& c);
    void setDrivePower(double watts);
    void setGainDb(double db);          // amplifier gain, default 10 dB
    void setMaxOutput(double watts);    // saturation, default 1000 W
    void setLoadSwr(double swr);        // a plain load: the same SWR at every setting
    void setReflection(Reflection reflection); // replaces the plain load (empty: back to it)
    // The load as it is now, the plain one included, for evaluating settings the board is
    // not at (the tuner map of the web panel).
    Reflection reflection() const;
    void setSupplyVolts(double volts);  // default 50 V
    void setAmbient(double celsius);    // default 25
    void setTemperatures(double temp1, double temp2);
    // The fan turns at this speed whatever the controller commands (a failed or stuck fan);
    // a negative value gives the control back to the "FN" command.
    void setFanOverride(int percent);
    // Simulated seconds per real second for the thermal model (default 1).
    void setTimeScale(double scale);

    PhysicsTruth truth() const;

private:
    double reflectionLocked(const BoardSettings& s) const;

    mutable std::mutex mutex_;
    Calibration cal_;
    double drive_ = 0;
    double gainDb_ = 10;
    double maxOutput_ = 1000;
    double loadSwr_ = 1.0;
    Reflection reflection_;
    double supplyVolts_ = 50;
    double ambient_ = 25;
    double timeScale_ = 1;
    int fanOverride_ = -1;
    double lastSeconds_ = -1;
    PhysicsTruth truth_;
};

} // namespace sim
