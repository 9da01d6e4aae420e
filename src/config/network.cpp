#include "config/network.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {
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
    FILE* pipe = popen(mapCommand("my_zolt").c_str(), "r");
    if (!pipe) {
        // Without the helper the unit still runs; the connection shows as unknown.
        logSys(LOG_ERR, "can't run my_zolt");
        return;
    }
    char line[32];
    while (fgets(line, sizeof line, pipe))
        memcpy(works->lanConnection, line, sizeof line);
    pclose(pipe);
    for (char& c : works->lanConnection)
        if (c == '\n' || c == '\t')
            c = '\0';
}
