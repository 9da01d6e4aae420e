#pragma once
// The Hamlib network amplifier server: station software reaches the unit as Hamlib's NET
// amplifier (model 2) over TCP. Off unless its settings file names a port.
#include <cstdint>
#include <string>
#include <string_view>

struct Works;

// The server's own settings file (setup.txt keeps its format).
constexpr const char* HAMLIB_SETTINGS_PATH = "/opt/set/hamlib.txt";
// Clients served at once; one more is accepted and closed at once.
constexpr int HAMLIB_MAX_CLIENTS = 4;

struct HamlibSettings {
    int port = 0;                       // 0: the server is off
    std::string address = "127.0.0.1";  // listening address (IPv4)
    bool allowSet = false;              // set commands allowed
};

// Reads "Port: N", "Address: A.B.C.D" and "AllowSet: 0|1" lines; unknown keys and bad
// values are logged and left at their defaults (a bad port leaves the server off).
HamlibSettings parseHamlibSettings(std::string_view text);
// The settings from HAMLIB_SETTINGS_PATH; the defaults (off) when the file is missing.
HamlibSettings readHamlibSettings();

// The server thread: listens on the configured address and port until works->running is 0.
void* HamlibServer(void* arg);
