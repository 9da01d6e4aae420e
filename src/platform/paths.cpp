#include "platform/paths.h"

#include <cstdlib>

std::string rootPrefix()
{
    // Read at every call: the environment is set once at start, and tests switch roots.
    const char* root = std::getenv("AMPCTL_ROOT");
    std::string prefix = root ? root : "";
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    return prefix;
}

std::string mapPath(std::string_view absPath)
{
    if (absPath.empty() || absPath.front() != '/')
        return std::string(absPath);
    return rootPrefix() + std::string(absPath);
}

std::string mapCommand(std::string_view command)
{
    if (rootPrefix().empty())
        return std::string(command);
    std::string out;
    size_t i = 0;
    while (i < command.size()) {
        size_t end = command.find(' ', i);
        if (end == std::string_view::npos)
            end = command.size();
        std::string_view word = command.substr(i, end - i);
        if (!word.empty() && word.front() == '/' && word != "/dev/null")
            out += mapPath(word);
        else
            out += word;
        if (end < command.size())
            out += ' ';
        i = end + 1;
    }
    return out;
}
