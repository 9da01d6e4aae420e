#pragma once
// Every absolute path the program touches goes through mapPath, so the same binary
// runs on the unit (AMPCTL_ROOT unset or empty) and inside a simulated unit's root.
#include <string>
#include <string_view>

// The root prefix taken from AMPCTL_ROOT ("" on the unit).
std::string rootPrefix();
// The path as seen by this process: the prefix followed by the absolute path.
// Relative paths are returned unchanged.
std::string mapPath(std::string_view absPath);
// A shell command with every absolute path mapped: blank-separated words that are one, and
// the target of a redirection written against its operator (">/dev/tty0", "2>/tmp/x").
// /dev/null stays as it is.
std::string mapCommand(std::string_view command);
