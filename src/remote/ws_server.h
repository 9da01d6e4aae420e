#pragma once
// The WebSocket server for the remote peer.
struct Works;

void* Wsocket(void* arg);
