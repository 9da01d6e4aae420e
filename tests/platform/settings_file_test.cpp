// Writes of the settings partition: the remount failure line on standard error for every
// writer, and the temporary files of an interrupted save removed at start-up.
#include "amplifier/amp_test_util.h"
#include "amplifier/filters.h"
#include "amplifier/thermal.h"
#include "config/antenna_table.h"
#include "core/setup.h"
#include "platform/settings_file.h"
#include "support/sim_root.h"
#include "tuner/tuner_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>

namespace {

// Lines of the text that are exactly the remount failure (not the simulated root's
// "syslog[3]: " copy of the system log line).
int plainRemountLines(const std::string& text)
{
    static const std::regex line("can't mount rw /opt/set/ error [0-9]+");
    std::istringstream in(text);
    int n = 0;
    for (std::string l; std::getline(in, l);)
        n += std::regex_match(l, line);
    return n;
}

TEST(SettingsWrites, RemountFailureGoesToStandardErrorForEveryWriter)
{
    TestRoot root("remount-stderr");
    auto works = freshWorks();
    Orvosetup setup{};
    works->setup = &setup;
    initSetup(works.get());
    root.write("sim/mount.fail-rw", "");
    const std::pair<const char*, std::function<void()>> writers[] = {
        {"setup.txt", [&] { writeSetup(works.get()); }},
        {"atu_ant1_b2.txt", [&] { SaveTabAtu(works.get(), 2, 0); }},
        {"antenna_b2.txt", [&] { SaveTabConfig(works.get(), 2); }},
        {"filter.txt", [&] { SaveTabFiltri(works.get()); }},
        {"LOGtemp.txt", [&] { LogTempFunction(works.get(), 0); }},
    };
    for (const auto& [file, write] : writers) {
        testing::internal::CaptureStderr();
        write();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(1, plainRemountLines(err)) << file << ":\n" << err;
        EXPECT_FALSE(root.exists(std::string("opt/set/") + file)) << file;
    }
}

TEST(SettingsWrites, StaleTemporaryFilesRemovedUnderTheRemount)
{
    TestRoot root("stale-tmp");
    root.write("opt/set/setup.txt", "EnableKeyb: 1\n");
    root.write("opt/set/setup.txt.tmp", "EnableKe");
    root.write("opt/set/atu_ant1_b3.txt.tmp", "");
    root.write("opt/set/notes.tmpx", "kept");

    // The partition cannot be made writable: nothing is removed.
    root.write("sim/mount.fail-rw", "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, removeStaleTempFiles());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(root.exists("opt/set/setup.txt.tmp"));
    std::filesystem::remove(root.path("sim/mount.fail-rw"));

    const std::string mountsBefore = root.read("sim/mount.log");
    testing::internal::CaptureStderr();
    EXPECT_EQ(2, removeStaleTempFiles());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(root.exists("opt/set/setup.txt.tmp"));
    EXPECT_FALSE(root.exists("opt/set/atu_ant1_b3.txt.tmp"));
    EXPECT_EQ("EnableKeyb: 1\n", root.read("opt/set/setup.txt"));
    EXPECT_EQ("kept", root.read("opt/set/notes.tmpx"));
    EXPECT_NE(std::string::npos,
              err.find("removed stale temporary file /opt/set/setup.txt.tmp (a save was interrupted)\n"))
        << err;
    EXPECT_NE(std::string::npos, err.find("removed stale temporary file /opt/set/atu_ant1_b3.txt.tmp"));
    EXPECT_EQ(mountsBefore + "-o remount defaults,rw " + root.path("opt/set") + "\n-v -n -o remount -r " +
                  root.path("opt/set") + "\n",
              root.read("sim/mount.log"));

    // Nothing left: no remount at all.
    const std::string mountsAfter = root.read("sim/mount.log");
    EXPECT_EQ(0, removeStaleTempFiles());
    EXPECT_EQ(mountsAfter, root.read("sim/mount.log"));
}

} // namespace
