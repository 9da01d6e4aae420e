#pragma once
// The tune memory: stored tuner words per antenna and frequency slot.
struct Works;

// Loads the stored tune of the current frequency for the antenna into tuneval.
// Called under the tune lock.
void LoadTuneFromMEM(Works* works, int antenna);
