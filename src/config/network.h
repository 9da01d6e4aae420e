#pragma once
// Network settings of the unit: its IPv4 address, netmask, gateway and DNS server as read
// from /etc/network/interfaces, edited octet by octet on the settings pages and written
// back (then the interfaces are restarted); and the name of the network connection.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The four values, in the order of the settings items.
enum LanField { LAN_IP = 0, LAN_NETMASK = 1, LAN_GATEWAY = 2, LAN_DNS = 3 };
constexpr int LAN_FIELDS = 4;

using Octets = std::array<uint8_t, 4>;

// One value as the settings page shows and edits it.
struct LanValue {
    Octets octets{};
    int cursor = 3;      // octet under edit, 0..3
    bool none = false;   // the file had no value (gateway and DNS only)
    bool valid = true;   // four octets 0..255 (as read, or once edited)
};
// A copy of one value (field 0..3), taken under the settings' lock.
LanValue lanValue(int field);

// Reads the file into the settings: 0, or -1 when it cannot be opened.
int ReadLanParam();
// Writes the edited values back into the file (replaced atomically, every other line
// kept) and restarts the interfaces: the shell status of the restart, or -1 when nothing
// was written (root not writable, file missing, an address that is not four octets).
int SaveLanParam();

// Dotted text to four octets, each part through atoi as a byte (at most four parts).
void SplitAddr(const char* text, Octets& out);
// Four octets to "%i.%i.%i.%i".
void SplitAddrInv(char* out, size_t size, const Octets& octets);
// Strict form: exactly four decimal parts 0..255 separated by dots, nothing else.
bool parseAddress(std::string_view text, Octets& out);
// One edit of an address: op 1 octet under the cursor -1, op 2 +1 (both wrap in 0..255),
// op 3 cursor left (0 to 3), op 4 cursor right (3 to 0); others change nothing. Returns
// the new cursor.
int ModifyIP(int op, int cursor, Octets& octets);
// ModifyIP on one of the unit's values (field 0..3), keeping its cursor and its text.
void modifyLanValue(int field, int op);

// The file's text with the unit's lines replaced: lines beginning in their first column
// with "address", "netmask", "gateway" or "nameserver" get the values (a gateway or DNS
// that is none is written empty); every other line is kept byte for byte.
std::string rewriteInterfaces(std::string_view file, const std::array<LanValue, LAN_FIELDS>& values);

// Reads the name of the network connection (printed by my_zolt).
void ReadLANconnection(Works* works);
