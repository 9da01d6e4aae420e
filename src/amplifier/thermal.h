#pragma once
// Thermal, fan and supply readings of the amplifier.
#include <cstdint>

struct Works;

// Supply voltage in volts from the 8-bit converter reading.
float CalvTensVadcAmp(Works* works, int raw);
