#pragma once
// Network settings of the unit.
#include <string>

struct Works;

// The unit's IPv4 settings as dotted text (empty until they are read from the system).
struct LanAddresses {
    std::string ip;
    std::string netMask;
    std::string gateway;
    std::string dns;
};
// A copy of the settings, taken under their lock (the screen shows them while the
// settings pages change them).
LanAddresses lanAddresses();
void setLanAddresses(const LanAddresses& addresses);

// Reads the name of the network connection (printed by my_zolt).
void ReadLANconnection(Works* works);
