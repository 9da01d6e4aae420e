// The tuner files: names per bank and antenna, loading, saving, bad lines.
#include "core/works.h"
#include "support/sim_root.h"
#include "tuner/tune_memory.h"
#include "tuner/tuner_files.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <memory>

namespace {

TEST(TunerFiles, NamesPerBankAndAntenna)
{
    EXPECT_EQ(atuFileName(0, 0), "/opt/set/atu_ant1.txt");
    EXPECT_EQ(atuFileName(20, 0), "/opt/set/atu_ant1.txt");
    EXPECT_EQ(atuFileName(1, 1), "/opt/set/atu_ant2_b1.txt");
    EXPECT_EQ(atuFileName(19, 2), "/opt/set/atu_ant3_b19.txt");
    EXPECT_EQ(atuFileName(7, 9), "/opt/set/atu_ant3_b7.txt");
}

TEST(TunerFiles, OutOfOrderLinesLoadSortedAndSaveSorted)
{
    TestRoot root("atu-files");
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    root.write("opt/set/atu_ant2_b3.txt",
               "; comment line\r\n"
               "3130 14200000 1 2 40 50\r\n"
               "12 99999999 1 1 300 200\n"
               "2110 7050000 0 1 5 5\n"        // present 0: an empty slot
               "5000 0 1 1 1 1\n"              // bad slot
               "-3 0 1 1 1 1\n"                // bad slot
               "900 1800000 1 1 1 1\n"
               "900 1800000 1 2 8 9\n"         // a later line for the same slot wins
               "900 1800000 6 2 8 9\n"         // values a tuner cannot take are refused:
               "900 1800000 1 4 8 9\n"         // present other than 0/1, a mode above 3,
               "900 1800000 1 2 512 9\n"       // inductance or capacitance beyond 9 bits
               "900 1800000 1 2 8 65545\n"
               "900 1800000 1 2 -1 9\n");
    tuneMemoryOf(w, 1)[4000].present = 1;      // replaced by the load
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    LoadTabAtu(w, 3, 1);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.substr(0, 44), "LoadTabAtu Errore idx\nLoadTabAtu Errore idx\n");
    EXPECT_NE(log.find("LoadTabAtu: tune out of range refused: 900 1800000 1 2 8 65545\n"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7) << log;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "LoadTabAtu Errore idxLoadTabAtu Errore idx");
    const TuneMemEntry* m = tuneMemoryOf(w, 1);
    EXPECT_EQ(m[12].present, 1);
    EXPECT_EQ(m[12].modo, 1);
    EXPECT_EQ(m[12].induttanza, 300);
    EXPECT_EQ(m[12].capacita, 200);
    EXPECT_EQ(m[2110].present, 0);
    EXPECT_EQ(m[900].induttanza, 8);
    EXPECT_EQ(m[900].capacita, 9);
    EXPECT_EQ(m[900].modo, 2);
    EXPECT_EQ(m[4000].present, 0);

    SaveTabAtu(w, 3, 1);
    EXPECT_EQ(root.read("opt/set/atu_ant2_b3.txt"),
              "12 24000 1 1 300 200\n"
              "900 1800000 1 2 8 9\n"
              "3130 14200000 1 2 40 50\n");
    // Saving ran the remounts around the write.
    const std::string commands = root.read("sim/commands.log");
    EXPECT_NE(commands.find("mount -o remount defaults,rw"), std::string::npos);
    EXPECT_NE(commands.find("mount -v -n -o remount -r"), std::string::npos);

    // A missing file gives an empty memory.
    LoadTabAtu(w, 4, 1);
    for (int slot = 0; slot < TUNE_SLOTS; ++slot)
        ASSERT_EQ(m[slot].present, 0);
}

TEST(TunerFiles, ReadingStopsAfter5000DataLinesAndLongLinesStayOneLine)
{
    TestRoot root("atu-limit");
    auto works = std::make_unique<Works>();
    std::string text = "1 2000 1 1 1 1" + std::string(700, ' ') + "2 1 1 1 1 1\n";  // 700 blanks: cut
    for (int i = 0; i < 4999; ++i)
        text += "; comment\n3 6000 0 0 0 0\n";
    text += "4 8000 1 1 4 4\n";  // the 5001st data line
    root.write("opt/set/atu_ant1.txt", text);
    LoadTabAtu(works.get(), 0, 0);
    const TuneMemEntry* m = tuneMemoryOf(works.get(), 0);
    EXPECT_EQ(m[1].present, 1);
    EXPECT_EQ(m[2].present, 0) << "the rest of a long line is not a line of its own";
    EXPECT_EQ(m[4].present, 0);
}

TEST(TunerFiles, UnwritablePartitionKeepsOldFile)
{
    TestRoot root("atu-ro");
    auto works = std::make_unique<Works>();
    root.write("opt/set/atu_ant1_b1.txt", "5 10000 1 1 1 1\n");
    root.write("sim/mount.fail-rw", "");
    tuneMemoryOf(works.get(), 0)[6].present = 1;
    testing::internal::CaptureStderr();
    SaveTabAtu(works.get(), 1, 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("SaveTabAtu Bank1 , antenna 0\n"), std::string::npos);
    EXPECT_NE(log.find("can't mount rw /opt/set/ error"), std::string::npos);
    EXPECT_EQ(root.read("opt/set/atu_ant1_b1.txt"), "5 10000 1 1 1 1\n");
}

} // namespace
