#pragma once
// The Hamlib server: station software reaches the unit over TCP on up to two ports, the
// ampctld line protocol (Hamlib's network amplifier daemon) and the KPA1500 remote command
// set (Hamlib's model 201 and station programs). Each is off unless its settings file names
// its port.
#include <cstdint>
#include <string>
#include <string_view>

struct Works;

// The server's own settings file (setup.txt keeps its format).
constexpr const char* HAMLIB_SETTINGS_PATH = "/opt/set/hamlib.txt";
// Clients served at once on each port; one more is accepted and closed at once.
constexpr int HAMLIB_MAX_CLIENTS = 4;
// A client that sends nothing for this long is closed (seconds), unless the file says else.
constexpr int HAMLIB_IDLE_DEFAULT_S = 60;
// Refused connections after the first are logged as one count at most this often (seconds).
constexpr int HAMLIB_REFUSAL_SUMMARY_S = 60;

struct HamlibSettings {
    int port = 0;                       // ampctld protocol; 0: off
    int kpaPort = 0;                    // KPA1500 command set; 0: off
    std::string address = "127.0.0.1";  // listening address (IPv4), both ports
    bool allowSet = false;              // set commands allowed, both ports
    int idleSeconds = HAMLIB_IDLE_DEFAULT_S;
};

// Reads "Port: N", "KpaPort: N", "Address: A.B.C.D", "AllowSet: 0|1" and "IdleTimeout: S"
// lines; unknown keys and bad values are logged and left at their defaults (a bad port
// leaves its listener off).
HamlibSettings parseHamlibSettings(std::string_view text);
// The settings from HAMLIB_SETTINGS_PATH; the defaults (off) when the file is missing.
HamlibSettings readHamlibSettings();

// The server thread: listens on the configured ports until works->running is 0.
void* HamlibServer(void* arg);
