// The unit-side my_temp program: its two lines from the thermal zone and the firmware
// tool, read back the way the controller reads them.
#include "amplifier/thermal.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <sys/stat.h>

namespace {
// Output of a command run as it is (no root mapping of its words).
std::string runRaw(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0)
        out.append(chunk, n);
    pclose(p);
    return out;
}
} // namespace

TEST(MyTemp, ThermalZoneAndFirmwareReading)
{
    TestRoot root("mytemp");
    std::filesystem::create_directories(root.path("sys/class/thermal/thermal_zone0"));
    root.write("sys/class/thermal/thermal_zone0/temp", "52345\n");
    const std::string tool = AMPCTL_BUILD_DIR "/my_temp";
    const std::string toolsDir = root.path("fw");
    std::filesystem::create_directories(toolsDir);

    // Without the firmware tool the second line repeats the thermal zone.
    std::string out = runRaw("PATH=/usr/bin:/bin " + tool);
    EXPECT_EQ("52.3\ntemp=52.3'C\n", out);
    float cpu1 = 0, cpu2 = 0;
    ASSERT_TRUE(parseCpuTemps(out, cpu1, cpu2));
    EXPECT_FLOAT_EQ(52.3f, cpu1);
    EXPECT_FLOAT_EQ(52.3f, cpu2);

    // With it, its reading is the second line.
    root.write("fw/vcgencmd", "#!/bin/sh\necho \"temp=48.3'C\"\n");
    chmod(root.path("fw/vcgencmd").c_str(), 0755);
    out = runRaw("PATH=" + toolsDir + ":/usr/bin:/bin " + tool);
    EXPECT_EQ("52.3\ntemp=48.3'C\n", out);
    ASSERT_TRUE(parseCpuTemps(out, cpu1, cpu2));
    EXPECT_FLOAT_EQ(48.3f, cpu2);
}
