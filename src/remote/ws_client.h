#pragma once
// The WebSocket client: the unit connects out to a remote server at "Server":"TcpPort",
// sends the password, mirrors what the server sends, and connects again after every loss.
// Nothing a server sends ends the program: a wrong key answer is logged and retried.
struct Works;

void* Wclient(void* arg);
