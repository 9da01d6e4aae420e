#pragma once
// Reading of the table files under /opt/set: one record per line.
#include <functional>
#include <string_view>

// Calls `line` for each line of the file (real-system path, mapped here) with one trailing
// '\n' and then one trailing '\r' removed. A line longer than maxLength is cut at
// maxLength-1 characters, and the rest of it is skipped (never read as a line of its own).
// `line` returns false to stop reading. Returns false when the file cannot be opened.
bool forEachSettingsLine(std::string_view absPath, size_t maxLength,
                         const std::function<bool(std::string_view line)>& line);
