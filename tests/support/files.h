#pragma once
// Files in tests: whole-file reads and writes, and fresh scratch directories.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

// The whole file ("" when it cannot be read).
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A path in the temporary directory, unique to this process, with nothing there yet.
inline std::string freshTempDir(const std::string& name)
{
    auto dir = std::filesystem::temp_directory_path() / ("ampctl-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    return dir.string();
}
