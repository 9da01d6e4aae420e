#pragma once
// Automatic tuning: a search of the tuner's relay settings for the lowest SWR, one step
// per amplifier status reply. Four searches: complete (start state 0), preset (450,
// driven by the band table's presets), fine (200, around the last result) and climbing
// (600, search_climb.h).
#include "core/tune_types.h"

struct Works;

constexpr int TUNE_HISTORY = 10;
constexpr int TUNE_CYCLE_LIMITS = 5;
constexpr int TUNE_START_COMPLETE = 0;
constexpr int TUNE_START_FINE = 200;
constexpr int TUNE_START_PRESET = 450;
constexpr int TUNE_START_CLIMB = 600;

// Cycle limits (measurements) by autoTuneMaxCicli, and the texts the settings page shows.
extern const int SWRTimeoutCICLI[TUNE_CYCLE_LIMITS];
extern const char* const SWRTimeout[TUNE_CYCLE_LIMITS];

// The measurement being processed, the best of the current search, the last 10 (newest first).
extern TuneParam tuneParam;
extern TuneParam miglioretuneParam;
extern TuneParam vTuneParam[TUNE_HISTORY];
// Measurements since the last reset (also the preset index of the preset search), and the
// single steps of the current fine phase.
extern int cnttune;
extern int cnttunefine;

// A tune is started and ended by the link thread only, so that no search state is ever
// written by two threads: any thread asks for a start or an end, and the link carries the
// requests out in order, under the tune lock, after its next status reply.
//
// The tune button (any thread): asks for a tune, or for the end of the running one.
void GoTune(Works* works);
// Asks for a tune (any thread): the link prepares the board and the state machine.
void StartAutotune(Works* works);
// Link thread: carries out the starts and ends asked for since its last call.
void ServeTuneRequests(Works* works);
// One state step; called by the status-reply handler while tuneStatus is 1.
void TuneTask(Works* works);
// One measurement with target check; 1 when it ended the tune.
int TuneStep(Works* works);
// One measurement without target check (fine search).
void TuneStepComplete(Works* works);
// Best tracking and history shift for tuneParam.
void CtrlNuovoTune(Works* works);
// Applies the best record.
void TuneEnd(Works* works);
// Asks for the end of the tune (any thread); save = 1 stores the result in the tune memory
// and its file.
void EscAutoTune(Works* works, int save);
// Link thread (the searches, and the requests carried out): ends the tune now.
void endAutotune(Works* works, int save);
void Clr_vTuneParam(Works* works);
void Clr_vTuneParam_fast(Works* works);
