#pragma once
// The USB keyboard of the service technician: Print Screen takes a screenshot, F11 saves
// the settings, F10 starts the remote service shell, F12 ends the program.
struct Works;

constexpr int KEYBOARD_RETRY_MS = 20000;  // looking again for a keyboard that is not there

void* keyb(void* arg);

// Starts the remote service shell and waits for it to return.
void RemoteConnection();
