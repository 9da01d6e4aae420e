#pragma once
// The band table (config.txt): calibration, the protection thresholds the board enforces
// ("TS") and the tuning presets, per frequency range.
#include <cstdint>
#include <string>

struct Works;
struct ConfigRow;

constexpr int TS_DEFAULT_IN = 4095;
constexpr int TS_DEFAULT_FWD = 4095;
constexpr int TS_DEFAULT_REFL = 1500;
constexpr int TS_DEFAULT_CURRENT = 3700;

// Reads /opt/set/config.txt into works->configRows (empty when the file is missing).
void ReadConfigFile(Works* works);
// One config.txt line as a band row (24 numbers; factors from the calibration pairs).
ConfigRow parseConfigLine(const std::string& line, float* inPower = nullptr, float* inRaw = nullptr);
// Row of the band table for a frequency: freqStart of row i <= f < freqStart of row i+1;
// the last row only closes the range before it. -1 when no row applies.
int bandRowFor(const Works* works, uint32_t frequency);
// Chooses the band row of works->frequency and queues "TS" when the row changes.
void SearchCambioSoglie_TS(Works* works);
// A raw threshold from a computed level: truncated, at most 4095 (0 for a negative level).
int rawThreshold(double level);
