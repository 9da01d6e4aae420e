#pragma once
// The main screen refresh loop (thread timer): about every 60 ms plus the drawing time it
// follows the frequency source, re-applies band filter, thresholds and antenna row on a
// change, supervises transmit-triggered tuning, redraws the whole screen and sends the
// status to a connected peer.
#include <cstdint>

struct Works;
struct SerParam;

// Screen-saver delays in minutes by saveScreenIdx, and their labels.
extern const int SaveScreen[5];
extern const char SaveScreenVal[5][8];

// Frame counters of the automatic-tune supervision, and the picture of the error screen
// already in the background (nullptr while no error screen is shown).
struct TimerLoopState {
    int waitCount = 0;
    int waitMark = 0;
    const char* errorPicture = nullptr;
};

void* timer(void* arg);

// One frame before its presentation: fatal-error screen, screen saver, frequency source,
// band change, transceiver follow, the drawing, and the status frame to the peer.
void timerFrame(Works* works, TimerLoopState& state);
// After a frame that took elapsedMs: the link's retry hold-off, peak decay and the
// periodic temperature log.
void frameTimers(Works* works, int64_t elapsedMs);
// Whether the saver is due: the whole minutes since the last key press reach the delay.
bool screenSaverDue(int64_t nowMs, int64_t lastActivityMs, int saveScreenIdx);
// The frequency of the source selected by interfaceMode into works->frequency, and the
// band's settings re-applied when it changed.
void followFrequency(Works* works, const SerParam& parameters);
// The transceiver's "AN" request and the transmit-triggered automatic tune.
void followTransceiver(Works* works, const SerParam& parameters, TimerLoopState& state);
// Local date and time into dateTimeStr, at most once per second.
void ReadDataOra(Works* works);
