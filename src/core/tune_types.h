#pragma once
// Records of the tuner shared through works: a tune-memory entry and the measurement
// record of the automatic tuner.
#include <cstdint>

// Slots of one antenna's tune memory (frequency slots 0 .. 4649 are used).
constexpr int TUNE_SLOTS = 5000;
constexpr int TUNE_ANTENNAS = 3;
// Recordings kept by the preset search (two sides of five presets, and the sweep after).
constexpr int REC_SWR_SIZE = 32;

// One stored tune: 6 bytes, fields in this order.
struct TuneMemEntry {
    uint8_t present = 0;  // 1 = the slot holds a tune
    uint8_t modo = 0;     // network mode 0..3 when it was stored
    uint16_t induttanza = 0;
    uint16_t capacita = 0;
};
static_assert(sizeof(TuneMemEntry) == 6, "a tune-memory entry is 6 bytes");

// One measurement of the automatic tuner.
struct TuneParam {
    float swr = 0;
    float pwrFwd = 0;
    int induttanza = 0;
    int capacita = 0;
    uint32_t tuneval = 0;
};
