#pragma once
// Remote audio: capture (th_leggi) and playback (th_scrivi).
struct Works;

void* th_leggi(void* arg);
void* th_scrivi(void* arg);
