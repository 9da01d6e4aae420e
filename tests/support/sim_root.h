#pragma once
// A fresh simulated root for in-process tests: AMPCTL_ROOT and PATH point at it while the
// object lives, so settings writes go through its stand-ins (mount, ...).
#include "root_builder.h"
#include "support/files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class TestRoot {
public:
    explicit TestRoot(const std::string& name)
    {
        dir_ = freshTempDir("test-" + name);
        root_ = sim::buildRoot(dir_.string());
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("AMPCTL_ROOT", root_.c_str(), 1);
        setenv("PATH", (root_ + "/bin:" + root_ + "/usr/bin:" + oldPath_).c_str(), 1);
    }
    ~TestRoot()
    {
        unsetenv("AMPCTL_ROOT");
        setenv("PATH", oldPath_.c_str(), 1);
        std::filesystem::remove_all(dir_);
    }
    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }
    std::string read(const std::string& relative) const { return readFile(path(relative)); }
    void write(const std::string& relative, const std::string& text) const { writeFile(path(relative), text); }
    bool exists(const std::string& relative) const { return std::filesystem::exists(path(relative)); }

private:
    std::filesystem::path dir_;
    std::string root_;
    std::string oldPath_;
};
