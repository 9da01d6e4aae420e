#pragma once
// Frames the unit sends to a connected remote peer.
#include <cstddef>

struct Works;

// Sends the status text (length bytes of buffer) to the connected peer; 0 when sent.
int sendWebSockStatusFrame(Works* works, const char* buffer, size_t length);
