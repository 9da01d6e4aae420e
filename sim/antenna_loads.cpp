#include "antenna_loads.h"

#include <cmath>

namespace sim {

namespace {
constexpr double kLight = 299792458.0;
constexpr double kHalfPi = 1.5707963267948966;
} // namespace

Impedance AntennaLoad::impedance(double frequencyHz) const
{
    const double kh = 2.0 * 3.141592653589793 * frequencyHz * halfLengthMetres / (kLight * velocityFactor);
    const double s = kh / kHalfPi;
    const double radiation = resonantOhms / lineOhms * (s < 1.0 ? s * s * s * s : s);
    const Impedance gammaH(radiation, kh);
    const Impedance coth = std::cosh(gammaH) / std::sinh(gammaH);
    return Impedance(lossOhms, 0) + lineOhms * coth;
}

AntennaLoad resonantDipole()
{
    return {"resonant dipole", 10.05, 1000.0, 73.0, 2.0, 0.95};
}

AntennaLoad shortVertical()
{
    return {"short vertical", 5.0, 350.0, 36.5, 12.0, 0.97};
}

AntennaLoad endFedWire()
{
    return {"end-fed wire", 20.5, 560.0, 36.5, 25.0, 0.95};
}

std::vector<AntennaLoad> scenarioLoads()
{
    return {resonantDipole(), shortVertical(), endFedWire()};
}

AntennaLoad antennaOnOutput(int output)
{
    if (output <= 1)
        return resonantDipole();
    return output == 2 ? shortVertical() : endFedWire();
}

} // namespace sim
