#pragma once
// The tune memory: good tunes per antenna output and frequency slot, the mapping of a
// frequency to its slot, and the recall used on every band change.
#include "core/tune_types.h"

#include <cstdint>

struct Works;

// Frequency segments of the slots: {start frequency Hz, step Hz}; the last pair ends the
// table with step -1.
constexpr int TAB_ATU_STEPS = 23;
extern const int32_t tabAtuStep[TAB_ATU_STEPS][2];
// The slot of a frequency, with the bounds of its segment (Hz) and of its slots
// (firstSlot .. endSlot-1).
int AtuIdxSearch(uint32_t frequency, int32_t* segStart, int32_t* segEnd, int* firstSlot, int* endSlot);
// The frequency of a slot (0 .. 4649).
int32_t AtuFreqfromIdx(int slot);

// The memory of an antenna output (0, 1; anything else the third). Its entries are read
// and written under works->tuneMemMutex.
TuneMemEntry* tuneMemoryOf(Works* works, int antenna);
void SaveTuneValsuTabRam(Works* works, const TuneMemEntry& entry, int slot, int antenna);
void LoadTuneValFromTabRam(Works* works, TuneMemEntry* out, int slot, int antenna);
// The present slot of from .. to-1 nearest to slot (ties to the lower), or -1.
int SearchBestTune(Works* works, int slot, int from, int to, int antenna);
// 1 when no usable tune exists for the slot within from .. to-1, 0 when one does.
int EsisteTuneValInTabRam(Works* works, int slot, int from, int to, int antenna);
// Loads the stored tune of the current frequency for the antenna into tuneval.
// Runs in the link thread as the recall command, under the tune lock.
void LoadTuneFromMEM(Works* works, int antenna);
// Stores the current tune for the current frequency and rewrites the antenna's file.
void InsertTuneToMem(Works* works, int bank, int antenna);
// On a frequency change: recall the stored tune, or zero (zeroIfMissing) or bypass the
// network when none is stored. Nothing while an automatic tune runs.
void GestioneLoadTuneVal(Works* works, int zeroIfMissing);
// The tune lock around changes of tuneval that go on the wire.
void WaitSemaforoTuneval(Works* works);
void StopSemaforoTuneval(Works* works);
