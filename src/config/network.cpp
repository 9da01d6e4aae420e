#include "config/network.h"

#include "core/works.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <string>

void ReadLANconnection(Works* works)
{
    (void)works;
    std::string name = readShell("my_zolt");
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    logSys(LOG_INFO, "LAN connection: %s", name.c_str());
}
