#include "config/network.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "platform/shell.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

constexpr const char* INTERFACES_PATH = "/etc/network/interfaces";
constexpr size_t VALUE_MAX = 31;  // a value is kept as at most 31 characters

// The keys of the file that carry the unit's values, in LanField order.
constexpr std::array<std::string_view, LAN_FIELDS> lanKeys = {"address", "netmask", "gateway", "nameserver"};

// The last piece of the output read as lines of at most `piece` characters: a longer line
// comes in several pieces, the line end belonging to the last of them.
std::string_view lastPiece(std::string_view output, size_t piece)
{
    std::string_view last;
    size_t i = 0;
    while (i < output.size()) {
        size_t end = output.find('\n', i);
        end = end == std::string_view::npos ? output.size() : end + 1;
        const size_t length = std::min(end - i, piece);
        last = output.substr(i, length);
        i += length;
    }
    return last;
}

// Everything the settings pages and the status page share, under lanMutex.
struct LanState {
    LanAddresses text;
    std::array<LanValue, LAN_FIELDS> values;
};

std::mutex lanMutex;
LanState lanState;

std::string* textOf(LanAddresses& text, int field)
{
    switch (field) {
    case LAN_IP:
        return &text.ip;
    case LAN_NETMASK:
        return &text.netMask;
    case LAN_GATEWAY:
        return &text.gateway;
    default:
        return &text.dns;
    }
}

bool validField(int field)
{
    return field >= 0 && field < LAN_FIELDS;
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The key a line of the file starts with in its first column, or -1.
int keyInFirstColumn(std::string_view line)
{
    for (int field = 0; field < LAN_FIELDS; ++field) {
        const std::string_view key = lanKeys[static_cast<size_t>(field)];
        if (line.starts_with(key) &&
            (line.size() == key.size() || line[key.size()] == ' ' || line[key.size()] == '\t' ||
             line[key.size()] == '\n' || line[key.size()] == '\r'))
            return field;
    }
    return -1;
}

// The value a line gives, whatever its indentation: the first word names the key, the
// value is the rest of the line after it and one separating blank.
int valueOfLine(std::string_view line, std::string& value)
{
    size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    const size_t end = line.find_first_of(" \t", start);
    const std::string_view word = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    for (int field = 0; field < LAN_FIELDS; ++field) {
        if (word != lanKeys[static_cast<size_t>(field)])
            continue;
        std::string_view rest = end == std::string_view::npos ? std::string_view{} : line.substr(end + 1);
        value.assign(rest.substr(0, std::min(rest.size(), VALUE_MAX)));
        return field;
    }
    return -1;
}

// The octets of a value read as text; a text that is not an address keeps the octets
// its parts give, and is marked so that it is never written back unedited.
void setValueFromText(LanValue& value, int field, const std::string& text)
{
    value.valid = parseAddress(trimBlanks(text), value.octets);
    if (!value.valid)
        SplitAddr(text.c_str(), value.octets);
    value.none = (field == LAN_GATEWAY || field == LAN_DNS) && text.empty();
}

} // namespace

LanAddresses lanAddresses()
{
    std::lock_guard<std::mutex> lock(lanMutex);
    return lanState.text;
}

void setLanAddresses(const LanAddresses& addresses)
{
    std::lock_guard<std::mutex> lock(lanMutex);
    lanState.text = addresses;
    for (int field = 0; field < LAN_FIELDS; ++field) {
        LanValue& v = lanState.values[static_cast<size_t>(field)];
        setValueFromText(v, field, *textOf(lanState.text, field));
    }
}

LanValue lanValue(int field)
{
    if (!validField(field))
        return {};
    std::lock_guard<std::mutex> lock(lanMutex);
    return lanState.values[static_cast<size_t>(field)];
}

void SplitAddr(const char* text, Octets& out)
{
    out.fill(0);
    const char* p = text;
    for (size_t i = 0; i < out.size() && p; ++i) {
        out[i] = static_cast<uint8_t>(atoi(p));
        p = strchr(p, '.');
        if (p)
            ++p;
    }
}

void SplitAddrInv(char* out, size_t size, const Octets& octets)
{
    snprintf(out, size, "%i.%i.%i.%i", octets[0], octets[1], octets[2], octets[3]);
}

bool parseAddress(std::string_view text, Octets& out)
{
    Octets parsed{};
    size_t part = 0;
    size_t i = 0;
    while (part < parsed.size()) {
        int value = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + (text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        parsed[part++] = static_cast<uint8_t>(value);
        if (part < parsed.size()) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    out = parsed;
    return true;
}

int ModifyIP(int op, int cursor, Octets& octets)
{
    const int c = cursor >= 0 && cursor <= 3 ? cursor : 3;
    uint8_t& octet = octets[static_cast<size_t>(c)];
    switch (op) {
    case 1:
        octet = static_cast<uint8_t>(octet - 1);
        return c;
    case 2:
        octet = static_cast<uint8_t>(octet + 1);
        return c;
    case 3:
        return c == 0 ? 3 : c - 1;
    case 4:
        return c == 3 ? 0 : c + 1;
    default:
        return c;
    }
}

void modifyLanValue(int field, int op)
{
    if (!validField(field))
        return;
    std::lock_guard<std::mutex> lock(lanMutex);
    LanValue& v = lanState.values[static_cast<size_t>(field)];
    v.cursor = ModifyIP(op, v.cursor, v.octets);
    if (op == 1 || op == 2) {
        // An edited value is four octets by construction, and is written from now on.
        v.valid = true;
        v.none = false;
    }
    char text[32];
    SplitAddrInv(text, sizeof text, v.octets);
    if (v.valid && !v.none)
        *textOf(lanState.text, field) = text;
}

std::string rewriteInterfaces(std::string_view file, const std::array<LanValue, LAN_FIELDS>& values)
{
    std::string out;
    out.reserve(file.size() + 64);
    size_t i = 0;
    while (i < file.size()) {
        size_t end = file.find('\n', i);
        end = end == std::string_view::npos ? file.size() : end + 1;
        const std::string_view line = file.substr(i, end - i);
        i = end;
        const int field = keyInFirstColumn(line);
        if (field < 0) {
            out.append(line);
            continue;
        }
        const LanValue& v = values[static_cast<size_t>(field)];
        char text[64];
        if (v.none) {
            snprintf(text, sizeof text, "%s \n", lanKeys[static_cast<size_t>(field)].data());
        } else {
            snprintf(text, sizeof text, "%s %u.%u.%u.%u\n", lanKeys[static_cast<size_t>(field)].data(), v.octets[0],
                     v.octets[1], v.octets[2], v.octets[3]);
        }
        out += text;
    }
    return out;
}

int ReadLanParam()
{
    std::string file;
    if (!readWholeFile(INTERFACES_PATH, file)) {
        logErr("Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    LanAddresses found;
    size_t i = 0;
    while (i < file.size()) {
        size_t end = file.find('\n', i);
        const size_t next = end == std::string::npos ? file.size() : end + 1;
        std::string_view line(file.data() + i, (end == std::string::npos ? file.size() : end) - i);
        i = next;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string value;
        const int field = valueOfLine(line, value);
        if (field >= 0)
            *textOf(found, field) = value;
    }
    logErr("ip: %s\n", found.ip.c_str());
    logErr("NetMask: %s\n", found.netMask.c_str());
    std::lock_guard<std::mutex> lock(lanMutex);
    lanState.text = found;
    for (int field = 0; field < LAN_FIELDS; ++field) {
        LanValue& v = lanState.values[static_cast<size_t>(field)];
        const std::string& text = *textOf(found, field);
        setValueFromText(v, field, text);
        if (!v.valid && !v.none)
            logErr("%s '%s' is not four octets 0-255\n", lanKeys[static_cast<size_t>(field)].data(), text.c_str());
    }
    if (!found.gateway.empty())
        logErr("gateway: %s\n", found.gateway.c_str());
    if (!found.dns.empty())
        logErr("DNS: %s\n", found.dns.c_str());
    logErr("ReadLanParam DNS_none=%d Gateway_none=%d\n", lanState.values[LAN_DNS].none ? 1 : 0,
           lanState.values[LAN_GATEWAY].none ? 1 : 0);
    return 0;
}

int SaveLanParam()
{
    if (runShell("mount -o remount defaults,rw /") != 0) {
        const int err = errno;
        logSys(LOG_ERR, "can't mount rw / %d", err);
        logErr("can't mount rw / %d\n", err);
        return -1;
    }
    std::string file;
    if (!readWholeFile(INTERFACES_PATH, file)) {
        logErr("Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    std::array<LanValue, LAN_FIELDS> values;
    {
        std::lock_guard<std::mutex> lock(lanMutex);
        values = lanState.values;
    }
    // A value that is not an address (as read from a hand-edited file) is never written:
    // the file keeps every line and the interfaces are not restarted.
    for (size_t i = 0; i < file.size();) {
        size_t end = file.find('\n', i);
        end = end == std::string::npos ? file.size() : end + 1;
        const int field = keyInFirstColumn(std::string_view(file).substr(i, end - i));
        i = end;
        if (field >= 0 && !values[static_cast<size_t>(field)].none && !values[static_cast<size_t>(field)].valid) {
            logSys(LOG_ERR, "network settings not saved: %s is not an address", lanKeys[static_cast<size_t>(field)].data());
            logErr("network settings not saved: %s is not four octets 0-255\n",
                   lanKeys[static_cast<size_t>(field)].data());
            return -1;
        }
    }
    const Octets& ip = values[LAN_IP].octets;
    logErr("--->new ip: %u.%u.%u.%u \n", ip[0], ip[1], ip[2], ip[3]);
    if (replaceFileAtomically(INTERFACES_PATH, rewriteInterfaces(file, values)) != SETTINGS_WRITTEN) {
        logErr("Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    return runShell("sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a");
}

void ReadLANconnection(Works* works)
{
    char name[sizeof works->lanConnection] = "No Conn";
    const std::string output = readShell("my_zolt");
    if (output.empty()) {
        // Without the helper the unit still runs; the connection shows as unknown.
        logSys(LOG_ERR, "can't run my_zolt");
    } else {
        std::fill(std::begin(name), std::end(name), '\0');
        const std::string_view last = lastPiece(output, sizeof name - 1);
        std::copy(last.begin(), last.end(), name);
        for (char& c : name)
            if (c == '\n' || c == '\t')
                c = '\0';
    }
    std::lock_guard<std::mutex> lock(works->lanConnectionMutex);
    memcpy(works->lanConnection, name, sizeof name);
}
