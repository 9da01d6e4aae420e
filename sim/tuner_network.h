#pragma once
// The tuner of the simulated board: an L network of relay-switched binary-weighted
// inductors and capacitors, set by the tune word, between the 50 ohm amplifier output and
// the antenna load.
//
// Components (typical of a 1 kW HF amplifier tuner):
//   inductance   0.05 uH x L (L = 0..511, 9 relays 0.05 .. 12.8 uH) plus 0.10 uH residual
//                (leads and shorted relays), coil Q 150 (series loss resistance wL/Q)
//   capacitance  5 pF x C (C = 0..511, 9 relays 5 .. 1280 pF) plus 15 pF residual
//                (relay and board stray), capacitor Q 1000
// Network modes (tune word bits 16, 18, 23):
//   bit 16 set, or no mode bit: bypass, the load is seen directly
//   bit 23 ("CL", side B): series inductor from the amplifier, capacitor across the load
//   bit 18 (" LC", side A): capacitor across the amplifier side, then the series inductor
// The bypass relay wins over the side bits; side B wins over side A.
#include <complex>
#include <cstdint>

namespace sim {

using Impedance = std::complex<double>;

constexpr double kSystemOhms = 50.0;

struct TunerComponents {
    double lStepHenry = 0.05e-6;
    double lResidualHenry = 0.10e-6;
    double coilQ = 150.0;
    double cStepFarad = 5e-12;
    double cResidualFarad = 15e-12;
    double capacitorQ = 1000.0;
};

struct NetworkPoint {
    Impedance input;  // what the amplifier sees
    double gamma = 0; // |reflection coefficient| against 50 ohms
    double swr = 1;   // capped at 100
};

// The network's input impedance and match for a tune word at a frequency and load.
NetworkPoint tunerNetwork(uint32_t tuneWord, double frequencyHz, Impedance load, const TunerComponents& parts = {});
// |reflection coefficient| of an impedance against 50 ohms, and the SWR it gives (capped at 100).
double reflectionMagnitude(Impedance z);
double swrFromGamma(double gamma);

} // namespace sim
