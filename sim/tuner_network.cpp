#include "tuner_network.h"

#include "tuner/tune_word.h"

#include <cmath>

namespace sim {

namespace {

constexpr double kTwoPi = 6.283185307179586;

enum class Network { Bypass, SideA, SideB };

Network networkOf(uint32_t word)
{
    if (word & TUNE_BIT_BYPASS)
        return Network::Bypass;
    if (word & TUNE_BIT_SIDE_B)
        return Network::SideB;
    if (word & TUNE_BIT_SIDE_A)
        return Network::SideA;
    return Network::Bypass;
}

Impedance parallel(Impedance a, Impedance b)
{
    return a * b / (a + b);
}

} // namespace

double reflectionMagnitude(Impedance z)
{
    return std::abs((z - kSystemOhms) / (z + kSystemOhms));
}

double swrFromGamma(double gamma)
{
    if (gamma >= 1.0)
        return 100.0;
    const double swr = (1.0 + gamma) / (1.0 - gamma);
    return swr > 100.0 ? 100.0 : swr;
}

NetworkPoint tunerNetwork(uint32_t tuneWord, double frequencyHz, Impedance load, const TunerComponents& parts)
{
    const double w = kTwoPi * frequencyHz;
    const double henry = parts.lResidualHenry + parts.lStepHenry * DecodeInduttanzaFromTuneval(tuneWord);
    const double farad = parts.cResidualFarad + parts.cStepFarad * DecodeCapacitaFromTuneval(tuneWord);
    const double xl = w * henry;
    const double xc = 1.0 / (w * farad);
    const Impedance coil(xl / parts.coilQ, xl);
    const Impedance capacitor(xc / parts.capacitorQ, -xc);
    Impedance input = load;
    switch (networkOf(tuneWord)) {
    case Network::Bypass:
        break;
    case Network::SideB:
        input = coil + parallel(capacitor, load);
        break;
    case Network::SideA:
        input = parallel(capacitor, coil + load);
        break;
    }
    NetworkPoint p;
    p.input = input;
    p.gamma = reflectionMagnitude(input);
    p.swr = swrFromGamma(p.gamma);
    return p;
}

} // namespace sim
