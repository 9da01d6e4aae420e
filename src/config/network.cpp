#include "config/network.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

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

std::mutex lanMutex;
LanAddresses lanSettings;

} // namespace

LanAddresses lanAddresses()
{
    std::lock_guard<std::mutex> lock(lanMutex);
    return lanSettings;
}

void setLanAddresses(const LanAddresses& addresses)
{
    std::lock_guard<std::mutex> lock(lanMutex);
    lanSettings = addresses;
}

void ReadLANconnection(Works* works)
{
    setSlot(works->lanConnection, "No Conn");
    const std::string output = readShell("my_zolt");
    if (output.empty()) {
        // Without the helper the unit still runs; the connection shows as unknown.
        logSys(LOG_ERR, "can't run my_zolt");
        return;
    }
    char name[sizeof works->lanConnection] = {};
    const std::string_view last = lastPiece(output, sizeof name - 1);
    std::copy(last.begin(), last.end(), name);
    for (char& c : name)
        if (c == '\n' || c == '\t')
            c = '\0';
    memcpy(works->lanConnection, name, sizeof name);
}
