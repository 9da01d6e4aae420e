#include "amplifier/table_file.h"

#include "platform/settings_file.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

std::vector<std::string> splitTableLines(std::string_view text, size_t maxLength)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        std::string_view line = text.substr(start, last ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line.substr(0, maxLength));
        if (last)
            break;
        start = end + 1;
    }
    return lines;
}

bool readTableLines(std::string_view absPath, size_t maxLength, std::vector<std::string>& lines)
{
    std::string text;
    if (!readWholeFile(absPath, text))
        return false;
    lines = splitTableLines(text, maxLength);
    return true;
}

bool isCommentLine(const std::string& line)
{
    return !line.empty() && line[0] == ';';
}

uint32_t NumberCursor::nextUnsigned()
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(p_, &end, 0);
    if (end == p_)
        return 0;
    p_ = end;
    if (errno == ERANGE || v < 0 || v > static_cast<long long>(UINT32_MAX))
        return 0;
    return static_cast<uint32_t>(v);
}

int32_t NumberCursor::nextInt()
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(p_, &end, 10);
    if (end == p_)
        return 0;
    p_ = end;
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return 0;
    return static_cast<int32_t>(v);
}

float NumberCursor::nextFloat()
{
    char* end = nullptr;
    float v = std::strtof(p_, &end);
    if (end == p_)
        return 0.0f;
    p_ = end;
    return std::isfinite(v) ? v : 0.0f;
}
