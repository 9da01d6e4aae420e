#pragma once
// The WebSocket server for the remote peer on "TcpPort". Connections are served side by
// side, by a fixed set of worker threads, while they pass the handshake and prove the password in their first text frame
// (at most WS_PENDING_MAX at once, each within WS_LOGIN_TIME_MS of its connection), so a
// peer that stalls cannot keep a real one out. One peer is logged in at a time: only it
// is heard (its messages act) and served (the senders of ws_frames.h write to it).
struct Works;

void* Wsocket(void* arg);

// How long a peer has from its connection to its password frame, in milliseconds.
constexpr int WS_LOGIN_TIME_MS = 2000;
// Connections served side by side before they logged in; a newer one ends the oldest.
constexpr int WS_PENDING_MAX = 8;

// Whether the server's password is the one every unit starts with (anyone who knows the
// default can operate the unit).
bool wsDefaultPasswordInUse(Works* works);
