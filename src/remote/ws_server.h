#pragma once
// The WebSocket server for the remote peer: one peer at a time on "TcpPort". A peer passes
// the handshake, proves the password in its first text frame, and only then is heard
// (its messages act) and served (the senders of ws_frames.h write to it).
struct Works;

void* Wsocket(void* arg);

// How long a peer has from its connection to its password frame, in milliseconds.
constexpr int WS_LOGIN_TIME_MS = 10000;
