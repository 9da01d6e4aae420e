#pragma once
// Rows of the amplifier's settings tables: the band table (config.txt), the low-pass
// filter table (filter.txt) and the fan table (ventola.txt).
#include "core/relaxed.h"

#include <cstdint>

constexpr int FILTER_ROWS = 8;
constexpr int TUNE_PRESETS = 5;

// One band of config.txt: calibration factors, protection limits and tuning presets.
struct ConfigRow {
    uint32_t freqStart = 0;  // Hz; a row applies up to the next row's start
    uint32_t freqEnd = 0;    // Hz, read and logged only
    float kFwd = 0;          // watts per raw unit squared
    float kRefl = 0;
    float kIn = 0;
    float kDir = 0;          // fraction of the forward power added to the reflected power
    float sogliaPwIn = 0;    // W
    float sogliaCorrente = 0; // A
    float sogliaRefl = 0;    // W
    float sogliaFwd = 0;     // W
    int32_t presetL[TUNE_PRESETS] = {};
    int32_t presetC[TUNE_PRESETS] = {};
    int32_t step = 0;
};

// One low-pass filter of the board: the range it serves and whether it may be used.
struct FilterRow {
    uint32_t freqStart = 0;
    uint32_t freqStop = 0;
    Relaxed<uint8_t> enabled;  // switched from the settings page while the link reads it
};

// One row of the fan table: from this temperature on, this fan percent.
struct VentolaRow {
    float temperature = 0;
    int32_t percent = 0;
};
