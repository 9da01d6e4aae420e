#pragma once
// Remote audio: capture (th_leggi) and playback (th_scrivi).
#include <cstddef>

struct Works;

void* th_leggi(void* arg);
void* th_scrivi(void* arg);
// Plays one audio message received from the peer (an Opus packet, or raw interleaved
// two-channel 16-bit samples when audio is uncompressed) on the playback device.
void playRemoteAudio(Works* works, const unsigned char* data, size_t length);
// The number of C-Media sound devices on the USB bus (lines of "lsusb | grep 0d8c"), each
// logged; 0 when there is none or the command cannot run.
int Get_AudioIXO(Works* works);
