#pragma once
// Conversions of the board's raw readings: hex digits, thermistor temperature, the
// calibration factors of the current band and the SWR from forward and reflected power.
#include <cstdint>

struct Works;

// One pair of the thermistor table: degrees Celsius, kilo-ohms of the 10 kilo-ohm NTC.
struct ThermistorPoint {
    float celsius;
    float kiloOhm;
};
constexpr int K_T_R_SIZE = 34;
extern const ThermistorPoint K_T_R[K_T_R_SIZE];

// Calibration factors used while config.txt gives none.
constexpr float K_DEFAULT_FWD = 5.156579e-6f;
constexpr float K_DEFAULT_REFL = 3.3262754e-6f;
constexpr float K_DEFAULT_IN = 5.5078103e-6f;
constexpr float K_DEFAULT_DIR = -0.007f;
enum CalibrationKind { K_FWD = 0, K_REFL = 1, K_IN = 2, K_DIR = 3 };

// Value of a hex digit, -1 for anything else.
int charToInt(char c);
// Degrees Celsius from a 12-bit thermistor reading, clamped to -10 .. 80.
float CalcolaTemp(int raw);
// Calibration factor of the given kind for works->frequency (the default without a band row).
float SearchK(Works* works, int kind);
// The default factor of a kind (1 for kinds without one).
float defaultK(int kind);
// SWR from forward and reflected power in watts, capped at 100 (0 without power).
float swrFromPowers(float pwrFwd, float pwrRefl);
// Supply current in amperes from the 12-bit current reading.
float currentAmperes(int rawCurrent);
