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
// A shell command with every blank-separated word that is an absolute path mapped,
// except /dev/null (redirections such as ">/dev/null" are not words of their own).
std::string mapCommand(std::string_view command);
