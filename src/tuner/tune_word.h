#pragma once
// The tune value: one 32-bit word describing a complete tuner setting (capacitance and
// inductance in 512 steps each, network mode), as "MT1%08X;" sends it to the board.
#include <cstdint>

struct Works;

// Mode bits of the word.
constexpr uint32_t TUNE_BIT_BYPASS = 1u << 16;  // "ByP"
constexpr uint32_t TUNE_BIT_SIDE_A = 1u << 18;  // " LC": capacitor on side A
constexpr uint32_t TUNE_BIT_SIDE_B = 1u << 23;  // "CL": capacitor on side B
constexpr uint32_t TUNE_MODE_BITS = TUNE_BIT_BYPASS | TUNE_BIT_SIDE_A | TUNE_BIT_SIDE_B;

// Network modes (modoTune).
enum TuneMode { TUNE_MODE_NONE = 0, TUNE_MODE_CL = 1, TUNE_MODE_LC = 2, TUNE_MODE_BYPASS = 3 };

// Pure forms of the layout, on a word.
uint32_t tunewordWithC(uint32_t word, int c);
uint32_t tunewordWithL(uint32_t word, int l);
uint32_t tunewordWithMode(uint32_t word, int mode);

void SetC(Works* works, int c);
void SetI(Works* works, int l);
void SetMode(Works* works, int mode);
int DecodeCapacitaFromTuneval(uint32_t word);
int DecodeInduttanzaFromTuneval(uint32_t word);
int DecodeModoFromTuneval(uint32_t word);
// capacita, induttanza and modoTune from tuneval; a word without a mode bit becomes bypass.
void ReadTnePar(Works* works);
