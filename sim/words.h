#pragma once
// The blank-separated words of a line of text (control lines, settings files).
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline std::vector<std::string> words(std::string_view line)
{
    std::vector<std::string> out;
    std::istringstream in{std::string(line)};
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

} // namespace sim
