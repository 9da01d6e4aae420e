#pragma once
// The WebSocket client: the unit connects out to a remote server.
struct Works;

void* Wclient(void* arg);
