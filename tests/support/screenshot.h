#pragma once
// Saves a simulated panel (a framebuffer file) as <build>/test-output/screens/<name>.png
// with the screenshot tool, so a test run leaves the screens it checked for people to see.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline void saveScreenshot(const std::string& framebuffer, const std::string& name)
{
    const std::filesystem::path dir = std::filesystem::path(AMPCTL_BUILD_DIR) / "test-output" / "screens";
    std::filesystem::create_directories(dir);
    const std::string command = std::string(AMPCTL_BUILD_DIR "/screenshot ") + framebuffer + " " +
                                (dir / (name + ".png")).string();
    EXPECT_EQ(0, std::system(command.c_str())) << command;
}
