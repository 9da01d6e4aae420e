#include "platform/paths.h"

#include <cstdlib>

const std::string& rootPrefix()
{
    static const std::string prefix = [] {
        const char* root = std::getenv("AMPCTL_ROOT");
        std::string p = root ? root : "";
        while (!p.empty() && p.back() == '/')
            p.pop_back();
        return p;
    }();
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
