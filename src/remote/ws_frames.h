#pragma once
// Frames the unit sends to a connected remote peer. Every sender is fire-and-forget and does
// nothing while no peer is connected.
#include <cstddef>

struct Works;

// Sends the status text (length bytes of buffer) to the connected peer; 0 when sent.
int sendWebSockStatusFrame(Works* works, const char* buffer, size_t length);
// The transceiver's parameter frame exactly as received ("PA").
void sendWebSockSerParFrame(Works* works, const unsigned char* data, size_t length);
// Bytes read from the transceiver's CAT port ("CA").
void sendWebSockCatFrame(Works* works, const unsigned char* data, size_t length);
// One spectrum line of length bytes, sent in 512-byte chunks ("SP").
void sendWebSockSerSpectrFrame(Works* works, const unsigned char* data, size_t length);
// One captured audio block of audioFrameSamples interleaved two-channel 16-bit samples ("SO").
void sendWebSockAudioFrame(Works* works, const unsigned char* samples);
