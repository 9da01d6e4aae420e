#include "platform/shell.h"

#include "platform/paths.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

int runShell(std::string_view command)
{
    const std::string mapped = mapCommand(command);
    errno = 0;
    int status = std::system(mapped.c_str());
    if (status != 0 && errno == 0)
        errno = EIO;
    return status;
}

std::string readShell(std::string_view command)
{
    const std::string mapped = mapCommand(command);
    std::string out;
    FILE* pipe = popen(mapped.c_str(), "r");
    if (!pipe)
        return out;
    std::array<char, 256> chunk{};
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        out.append(chunk.data(), n);
    pclose(pipe);
    return out;
}
