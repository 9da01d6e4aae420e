#pragma once
// One row of a bank's antenna table: what the amplifier is told when the frequency
// enters the row's band.
#include <cstdint>

constexpr int ANT_ROWS = 11;
constexpr uint8_t ROW_ATTENUATOR_MAX = 3;  // highest attenuator step of a row (5 dB)

struct AntennaRow {
    char band[8] = {};       // band name, at most 7 characters
    int32_t freqStart = 0;   // Hz, inclusive
    int32_t freqStop = 0;    // Hz, inclusive
    uint8_t ampEnable = 0;   // 1 amplifier in line, 0 bypassed
    uint8_t ant = 0;         // antenna output 1..3; 0 leaves the antenna unchanged
    uint8_t atuBypass = 0;   // 1 tuner bypassed on this band
    uint8_t att = 0;         // attenuator step 0..3
    float pwr = 0;           // power value (edited and stored only)
};
