// Antenna tables: file format, defaults, saving the live state, applying a row.
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "core/works.h"
#include "support/sim_root.h"
#include "tuner/tune_memory.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

std::vector<int> drainQueue(Works* works)
{
    std::vector<int> out;
    for (int n; (n = takeQueuedCmd(works)) >= 0;)
        out.push_back(n);
    return out;
}

TEST(AntennaTable, FileNamesAndDefaults)
{
    EXPECT_EQ(antennaFileName(0), "/opt/set/antenna.txt");
    EXPECT_EQ(antennaFileName(1), "/opt/set/antenna_b1.txt");
    EXPECT_EQ(antennaFileName(19), "/opt/set/antenna_b19.txt");
    EXPECT_EQ(antennaFileName(20), "/opt/set/antenna.txt");
    EXPECT_STREQ(MODEwork[2], " FT-817");
    EXPECT_STREQ(AttVectStr[4], "StBy");

    auto works = std::make_unique<Works>();
    works->antennaTable[3].ant = 3;
    works->antennaTable[3].att = 2;
    InitTabAntenna(works.get(), 1);  // names and edges only
    EXPECT_STREQ(works->antennaTable[3].band, "40m");
    EXPECT_EQ(works->antennaTable[3].ant, 3);
    EXPECT_EQ(works->antennaTable[3].att, 2);
    InitTabAntenna(works.get(), 0);
    EXPECT_EQ(works->antennaRows, 11);
    EXPECT_EQ(works->antennaTable[3].ant, 1);
    EXPECT_EQ(works->antennaTable[3].atuBypass, 1);
    EXPECT_EQ(works->antennaTable[10].freqStop, 54000000);
    EXPECT_STREQ(works->antennaTable[2].band, "60m");
    EXPECT_EQ(works->antennaTable[2].freqStart, 5330500);
}

TEST(AntennaTable, LoadsHeaderHexEdgesAndSavesTheSameFormat)
{
    TestRoot root("antenna-load");
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    root.write("opt/set/antenna_b2.txt",
               "; my table\r\n"
               "!817\r\n"
               "160meters 1800000 2000000 1 2 0 1 5.5\n"
               "40m 0x6ACFC0 7300000 1 3 1 3 0.25\n");
    EXPECT_EQ(LoadTabConfig(w, 2), 2);
    EXPECT_EQ(w->antennaRows, 2);
    EXPECT_EQ(w->antennaRowIdx, -1);
    EXPECT_STREQ(w->antennaTable[0].band, "160mete") << "band names are cut at 7 characters";
    EXPECT_EQ(w->antennaTable[0].ant, 2);
    EXPECT_EQ(w->antennaTable[0].att, 1);
    EXPECT_FLOAT_EQ(w->antennaTable[0].pwr, 5.5f);
    EXPECT_EQ(w->antennaTable[1].freqStart, 7000000);
    EXPECT_EQ(w->antennaTable[1].atuBypass, 1);

    w->interfaceMode = 2;
    SaveTabConfig(w, 2);
    EXPECT_EQ(root.read("opt/set/antenna_b2.txt"),
              "!817\n"
              "160mete 1800000 2000000 1 2 0 1 5.5\n"
              "40m 7000000 7300000 1 3 1 3 0.2\n");

    // A missing file: the default table, mode 0.
    EXPECT_EQ(LoadTabConfig(w, 5), 0);
    EXPECT_EQ(w->antennaRows, 11);
    EXPECT_EQ(w->antennaTable[0].ampEnable, 0);
    EXPECT_EQ(w->antennaTable[0].atuBypass, 1);
}

TEST(AntennaTable, ZeroEdgeReinitsNamesAndExtraRowsAreIgnored)
{
    TestRoot root("antenna-bad");
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    std::string text = "!Xyz\n";
    for (int i = 0; i < 13; ++i)
        text += "b" + std::to_string(i) + " " + std::to_string(1000000 * (i + 1)) + " " +
                std::to_string(1000000 * (i + 1) + 500) + " 1 2 0 1 1.0\n";
    root.write("opt/set/antenna.txt", text);
    EXPECT_EQ(LoadTabConfig(w, 0), 0) << "an unknown header leaves the mode at 0";
    EXPECT_EQ(w->antennaRows, 11);
    EXPECT_STREQ(w->antennaTable[10].band, "b10");

    root.write("opt/set/antenna.txt", "!Ixo\nx 1 2 1 3 0 2 0.0\ny 0 5 1 3 0 2 0.0\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTabConfig(w, 0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error Reinit antenna\n");
    EXPECT_EQ(w->antennaRows, 11);
    EXPECT_STREQ(w->antennaTable[1].band, "80m");
    EXPECT_EQ(w->antennaTable[1].ant, 3) << "the settings of the rows are kept";
}

TEST(AntennaTable, RowsWithFieldsOutOfRangeAreRefused)
{
    // An antenna output or attenuator step the unit lacks, a switch other than 0/1, an edge
    // that does not fit, a power that is no number: the line is refused with a log line,
    // never applied to the amplifier.
    TestRoot root("antenna-range");
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    root.write("opt/set/antenna.txt",
               "a 1800000 2000000 1 140 0 0 0.0\n"
               "b 3500000 4000000 1 2 0 9 0.0\n"
               "c 7000000 7300000 2 2 0 0 0.0\n"
               "d 10100000 10150000 1 2 7 0 0.0\n"
               "e 0x100000001 14350000 1 2 0 0 0.0\n"
               "f 18068000 -1 1 2 0 0 0.0\n"
               "g 21000000 21450000 1 -1 0 0 0.0\n"
               "h 24890000 24990000 1 2 0 0 nan\n"
               "40m 7000000 7300000 1 3 0 3 10.0\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadTabConfig(w, 0), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(w->antennaRows, 1);
    EXPECT_STREQ(w->antennaTable[0].band, "40m");
    EXPECT_NE(log.find("row out of range refused: a 1800000 2000000 1 140 0 0 0.0\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8) << "one line per refused row: " << log;

    w->frequency = 7100000;
    w->attenuator = 0;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(w->antenna, 2);
    EXPECT_EQ(w->attenuator, 3);
    drainQueue(w);
}

TEST(AntennaTable, SaveToBankStoresLiveStateOfTheFrequencyRow)
{
    TestRoot root("antenna-save");
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    InitTabAntenna(w, 0);
    w->frequency = 7100000;
    w->atuBypass = 0;
    w->attenuator = 2;
    w->attenuatorSel = 4;  // StBy: the amplifier is stored as disabled
    w->interfaceMode = 1;
    SaveToBank(w, 3, 2);
    EXPECT_EQ(w->antennaTable[3].ant, 3);
    EXPECT_EQ(w->antennaTable[3].atuBypass, 0);
    EXPECT_EQ(w->antennaTable[3].att, 2);
    EXPECT_EQ(w->antennaTable[3].ampEnable, 0);
    const std::string file = root.read("opt/set/antenna_b3.txt");
    EXPECT_EQ(file.substr(0, 5), "!Ixo\n");
    EXPECT_NE(file.find("\n40m 7000000 7300000 0 3 0 2 0.0\n"), std::string::npos);
    // No row for the frequency: the file is still written.
    w->frequency = 100;
    w->interfaceMode = 0;
    SaveToBank(w, 3, 0);
    EXPECT_EQ(root.read("opt/set/antenna_b3.txt").substr(0, 5), "!Gen\n");
}

TEST(AntennaTable, BandChangeAppliesTheRowInOrder)
{
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    InitTabAntenna(w, 0);
    // 40m: antenna 2, tuner in line, amplifier in line, attenuator 3.
    w->antennaTable[3] = AntennaRow{"40m", 7000000, 7300000, 1, 2, 0, 3, 0};
    w->antenna = 0;
    w->ampBypass = 1;
    w->attenuator = 0;
    w->frequency = 7300000;  // on the upper edge
    // 7.3 MHz opens the tune segment 2160..2719; a tune stored in it is recalled.
    SaveTuneValsuTabRam(w, TuneMemEntry{1, 1, 10, 10}, 2165, 1);
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(w->antennaRowIdx, 3);
    EXPECT_EQ(w->antenna, 1);
    EXPECT_EQ(w->attenuator, 3);
    EXPECT_EQ(w->attenuatorSel, 3);
    EXPECT_EQ(drainQueue(w), (std::vector<int>{7, CMD_TUNE_RECALL, 19, 14}));

    // Same row again with nothing to change but the tune (none stored for antenna 0 here).
    w->antennaTable[3].ant = 0;  // leaves the antenna as it is
    w->ampBypass = 0;
    w->antenna = 0;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(w->antenna, 0);
    EXPECT_EQ(drainQueue(w), (std::vector<int>{CMD_TUNE_ZERO}));

    // Tuner bypassed and amplifier disabled on 20m.
    w->frequency = 14000000;
    testing::internal::CaptureStderr();
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TABLE CONFIG : BYPASS 1 (5)\n");
    EXPECT_EQ(drainQueue(w), (std::vector<int>{CMD_TUNE_BYPASS, 20}));

    // Outside every band: nothing sent, row index 100.
    w->frequency = 12000000;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(w->antennaRowIdx, 100);
    EXPECT_TRUE(drainQueue(w).empty());

    // Where two rows meet, the earlier one wins.
    w->antennaTable[4] = AntennaRow{"x", 7300000, 7400000, 1, 3, 1, 0, 0};
    w->frequency = 7300000;
    GestioneAntennaAutomatica(w);
    EXPECT_EQ(w->antennaRowIdx, 3);
}

} // namespace
