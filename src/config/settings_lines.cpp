#include "config/settings_lines.h"

#include "platform/paths.h"

#include <fstream>
#include <string>

bool forEachSettingsLine(std::string_view absPath, size_t maxLength,
                         const std::function<bool(std::string_view line)>& line)
{
    std::ifstream in(mapPath(absPath), std::ios::binary);
    if (!in)
        return false;
    std::string text;
    while (std::getline(in, text)) {
        if (maxLength > 0 && text.size() > maxLength - 1)
            text.resize(maxLength - 1);
        else if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (!line(text))
            break;
    }
    return true;
}
