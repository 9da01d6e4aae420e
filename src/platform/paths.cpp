#include "platform/paths.h"

#include <cctype>
#include <cstdlib>

namespace {

// Where an absolute path starts in a blank-separated word of a command: at its start, or
// right after a redirection operator ("2>/tmp/x", ">>/opt/set/f", "</dev/null"); npos when
// the word names none.
size_t pathStart(std::string_view word)
{
    if (!word.empty() && word.front() == '/')
        return 0;
    size_t i = 0;
    while (i < word.size() && std::isdigit(static_cast<unsigned char>(word[i])))
        ++i;
    const size_t op = i;
    while (i < word.size() && (word[i] == '<' || word[i] == '>' || (word[i] == '|' && i > op)))
        ++i;
    if (i == op || i >= word.size() || word[i] != '/')
        return std::string_view::npos;
    return i;
}

} // namespace

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
        const size_t start = pathStart(word);
        if (start != std::string_view::npos && word.substr(start) != "/dev/null") {
            out += word.substr(0, start);
            out += mapPath(word.substr(start));
        } else {
            out += word;
        }
        if (end < command.size())
            out += ' ';
        i = end + 1;
    }
    return out;
}
