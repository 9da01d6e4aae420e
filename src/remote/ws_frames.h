#pragma once
// Frames the unit sends to a connected remote peer. Every sender is fire-and-forget and does
// nothing while no peer is connected. One frame (one chunk of a spectrum line) is written
// at a time: the senders hold sendMut around the test of the connection and the write, and
// the reading thread retires its socket under the same lock, so no frame ever goes to a
// descriptor that has been closed or reused.
#include <cstddef>
#include <cstdint>

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

// The largest payload of the short form (the length byte carries tag and data: 125).
constexpr size_t WS_SHORT_DATA_MAX = 123;
// Bytes of spectrum data per "SP" chunk.
constexpr size_t WS_SPECTRUM_CHUNK = 512;

// Makes fd the peer socket of the senders (authenticated: wsConnected 1), under sendMut.
void wsPublishPeer(Works* works, int fd);
// Ends the senders' use of the peer socket (wsConnected 0, wsSock -1) under sendMut, then
// closes fd (the socket the reading thread owns).
void wsRetirePeer(Works* works, int fd);

// Hands the transceiver's readers (transceiver/peer_link.h) the senders above and the
// sound interface check: called once at start-up, before the threads start.
void installPeerLink();
