#pragma once
// Reading the simulated board's wire log in tests.
#include "wire_log.h"

#include <string>
#include <vector>

// The command texts (CRC digits removed) the host sent, from entry `from` on.
inline std::vector<std::string> hostTexts(const std::vector<sim::WireEntry>& log, size_t from = 0)
{
    std::vector<std::string> out;
    for (size_t i = from; i < log.size(); i++)
        if (log[i].toBoard && log[i].frame.size() >= 2)
            out.push_back(log[i].frame.substr(2));
    return out;
}

// Number of host frames whose text is `text`.
inline size_t countHost(const std::vector<sim::WireEntry>& log, const std::string& text)
{
    size_t n = 0;
    for (const std::string& t : hostTexts(log))
        n += t == text;
    return n;
}
