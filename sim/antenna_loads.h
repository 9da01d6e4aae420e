#pragma once
// Antenna loads of the simulated unit: impedance R + jX as a function of frequency.
//
// Each antenna is modelled as a lossy open-ended transmission line (the classic picture of
// a wire antenna): Z = Rloss + Z0 coth(a h + j k h), with k h the electrical length of the
// wire (or of each half of a dipole), Z0 its average characteristic impedance, and a h the
// radiation loss, scaled so the input resistance at the first resonance (k h = pi/2) is
// the textbook radiation resistance, falling as (k h)^2 when the wire is short. This gives
// the right shape over 1.8 to 54 MHz: capacitive and low resistance when short, a series
// resonance near 73 ohms (dipole) or 36 ohms (monopole), a few kilo-ohms at the half-wave
// (end-fed) resonance, and alternating resonances above.
#include "tuner_network.h"

#include <string>
#include <vector>

namespace sim {

struct AntennaLoad {
    std::string name;
    double halfLengthMetres = 0;   // each half of a dipole, or the whole monopole / end-fed wire
    double lineOhms = 0;           // Z0 of the wire over its length
    double resonantOhms = 0;       // radiation resistance at k h = pi/2
    double lossOhms = 0;           // ground and conductor loss in series
    double velocityFactor = 0.95;  // wire end effect

    Impedance impedance(double frequencyHz) const;
};

// A 40 m half-wave dipole (2 x 10.05 m of 2 mm wire), resonant near 7.1 MHz.
AntennaLoad resonantDipole();
// A 5 m whip over a ground plane: short on 160 to 40 m, a quarter wave near 14 MHz.
AntennaLoad shortVertical();
// A 20.5 m end-fed wire against a poor counterpoise: half-wave near 7 MHz, high impedance there.
AntennaLoad endFedWire();
std::vector<AntennaLoad> scenarioLoads();
// The simulated unit's antennas on its three outputs: 1 the dipole, 2 the vertical, 3 the
// end-fed wire (outputs outside 1..3 count as the nearest).
AntennaLoad antennaOnOutput(int output);

} // namespace sim
