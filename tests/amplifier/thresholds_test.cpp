// Band table (config.txt) and its thresholds, filter table (filter.txt) and its selection.
#include "amp_test_util.h"
#include "amplifier/filters.h"
#include "amplifier/table_file.h"
#include "amplifier/thresholds.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
// freqStart freqEnd, pairs fwd/refl/in, kDir, PWIN, current, REFL, FWD, L0 C0 .. L4 C4, step
const char* const CONFIG =
    "; band table\n"
    "1800000 2000000 1000 2000 250 1000 10 1000 -0.005 8 30 200 1100 1 2 3 4 5 6 7 8 9 10 11\r\n"
    "0x6ACFC0 7300000 1000 4000 250 2000 10 1000 0 8 10 200 1100 0 0 0 0 0 0 0 0 0 0 0\n"
    "014000000 14350000 1000 4000 250 2000 10 1000 0 8 10 200 1100 0 0 0 0 0 0 0 0 0 0 0\n"
    "30000000 30000000 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
} // namespace

TEST(BandTable, ParsesRowsFactorsAndBases)
{
    TestRoot root("config");
    root.write("opt/set/config.txt", CONFIG);
    auto works = freshWorks();
    ReadConfigFile(works.get());
    ASSERT_EQ(4, works->configRowCount);
    const ConfigRow& r = works->configRows[0];
    EXPECT_EQ(1800000u, r.freqStart);
    EXPECT_EQ(2000000u, r.freqEnd);
    EXPECT_FLOAT_EQ(0.00025f, r.kFwd);
    EXPECT_FLOAT_EQ(0.00025f, r.kRefl);
    EXPECT_FLOAT_EQ(1e-5f, r.kIn);
    EXPECT_FLOAT_EQ(-0.005f, r.kDir);
    EXPECT_FLOAT_EQ(30.0f, r.sogliaCorrente);
    EXPECT_EQ((std::vector<int>{1, 3, 5, 7, 9}), std::vector<int>(r.presetL, r.presetL + 5));
    EXPECT_EQ((std::vector<int>{2, 4, 6, 8, 10}), std::vector<int>(r.presetC, r.presetC + 5));
    EXPECT_EQ(11, r.step);
    EXPECT_EQ(7000000u, works->configRows[1].freqStart) << "hexadecimal";
    EXPECT_EQ(014000000u, works->configRows[2].freqStart) << "leading 0: octal";
    // A pair without a raw reading falls back to the default factor instead of dividing by 0.
    EXPECT_FLOAT_EQ(5.156579e-6f, works->configRows[3].kFwd);

    // Missing file: empty table.
    std::filesystem::remove(root.path("opt/set/config.txt"));
    ReadConfigFile(works.get());
    EXPECT_EQ(0, works->configRowCount);
    EXPECT_TRUE(works->configRows.empty());
}

TEST(BandTable, ThresholdsFollowTheBandRow)
{
    auto works = freshWorks();
    works->configRows = {parseConfigLine("1800000 2000000 1000 2000 250 1000 10 1000 0 8 30 200 1100"),
                         parseConfigLine("3500000 3800000 1000 2000 250 1000 10 1000 0 8 10 200 1100"),
                         parseConfigLine("7000000 7300000 1000 2000 250 1000 10 1000 0 8 10 200 1100")};
    works->frequency = 1900000;
    SearchCambioSoglie_TS(works.get());
    EXPECT_EQ(std::vector<int>{22}, drainQueue(works.get()));
    EXPECT_EQ(894, works->tsPar[0]) << "sqrt(8 / 1e-5)";
    EXPECT_EQ(2097, works->tsPar[1]) << "sqrt(1100 / 0.00025)";
    EXPECT_EQ(894, works->tsPar[2]) << "sqrt(200 / 0.00025)";
    EXPECT_EQ(4095, works->tsPar[3]) << "30 A is 8745, limited";
    EXPECT_EQ(0, works->thresholdRow);

    works->frequency = 1950000;
    SearchCambioSoglie_TS(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty()) << "same row: nothing sent";
    works->frequency = 3600000;
    SearchCambioSoglie_TS(works.get());
    EXPECT_EQ(std::vector<int>{22}, drainQueue(works.get()));
    EXPECT_EQ(2915, works->tsPar[3]) << "10 A";
    works->frequency = 7000000;
    SearchCambioSoglie_TS(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty()) << "the last row's start selects no row";
    EXPECT_EQ(1, works->thresholdRow);

    // Frequency 0 after a row: nothing changes. Without a table: the defaults, once.
    works->frequency = 0;
    SearchCambioSoglie_TS(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty());
    auto bare = freshWorks();
    SearchCambioSoglie_TS(bare.get());
    SearchCambioSoglie_TS(bare.get());
    EXPECT_EQ(std::vector<int>{22}, drainQueue(bare.get()));
    EXPECT_EQ((std::vector<int>{4095, 4095, 1500, 3700}), std::vector<int>(bare->tsPar, bare->tsPar + 4));

    // Defaults sent while the frequency was 0, then the first row: its own thresholds go out.
    works->thresholdRow = -1;
    SearchCambioSoglie_TS(works.get());
    EXPECT_EQ(std::vector<int>{22}, drainQueue(works.get()));
    EXPECT_EQ(1500, works->tsPar[2]);
    works->frequency = 1900000;
    SearchCambioSoglie_TS(works.get());
    EXPECT_EQ(std::vector<int>{22}, drainQueue(works.get()));
    EXPECT_EQ(894, works->tsPar[2]);

    EXPECT_EQ(4095, rawThreshold(1.0 / 0.0));
    EXPECT_EQ(4095, rawThreshold(std::nan("")));
    EXPECT_EQ(0, rawThreshold(-3));
}

TEST(Filters, LoadSelectOnceToggleAndSave)
{
    TestRoot root("filters");
    root.write("opt/set/filter.txt",
               ";header\n1800000 2000000 1\n3500000 4000000 1\n0x6ACFC0 7300000 1\n0 0 0\n0 0 0\n0 0 0\n"
               "0 0 0\n0 54000000 1\n99 99 1\n");
    auto works = freshWorks();
    LoadTabFiltri(works.get());
    EXPECT_EQ(7000000u, works->filterTable[2].freqStart);
    EXPECT_EQ(54000000u, works->filterTable[7].freqStop);
    EXPECT_EQ(1, works->filterTable[7].enabled);

    works->frequency = 1900000;
    SetFilterFromfreq(works.get());
    SetFilterFromfreq(works.get());
    EXPECT_EQ(std::vector<int>{28}, drainQueue(works.get())) << "sent once";
    EXPECT_EQ(0x01, works->sfValue);
    works->frequency = 10100000;
    SetFilterFromfreq(works.get());
    EXPECT_EQ(std::vector<int>{28}, drainQueue(works.get()));
    EXPECT_EQ(0x80, works->sfValue);
    works->frequency = 60000000;
    SetFilterFromfreq(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty()) << "no filter covers it: the last one stays";
    EXPECT_EQ(0x80, works->sfValue);

    // Disabling the filter in use selects the next enabled row covering the frequency.
    works->frequency = 7100000;
    SetFilterFromfreq(works.get());
    EXPECT_EQ(0x04, works->sfValue);
    drainQueue(works.get());
    works->filterIdx = 2;
    EnDisFilter(works.get(), 0);
    EXPECT_EQ(std::vector<int>{28}, drainQueue(works.get()));
    EXPECT_EQ(0x80, works->sfValue);
    const std::string saved = root.read("opt/set/filter.txt");
    EXPECT_EQ(";Fstart(hz)\tFstop         enabled   : 1= abilitata, l'ordine delle righe corrisponde al filtro di "
              "attivazione   j23 ultimo by pass (0 ,54000000)  verso esterno\n"
              "1800000\t\t2000000\t\t1 \n3500000\t\t4000000\t\t1 \n7000000\t\t7300000\t\t0 \n0\t\t0\t\t0 \n"
              "0\t\t0\t\t0 \n0\t\t0\t\t0 \n0\t\t0\t\t0 \n0\t\t54000000\t\t1 \n",
              saved);
    EXPECT_FALSE(root.exists("opt/set/filter.txt.tmp"));
    EXPECT_NE(std::string::npos, root.read("sim/commands.log").find("mount -o remount defaults,rw"));

    // Read back, the saved file gives the same table.
    auto again = freshWorks();
    LoadTabFiltri(again.get());
    EXPECT_EQ(0, again->filterTable[2].enabled);
    EXPECT_EQ(7300000u, again->filterTable[2].freqStop);

    // With the partition not remountable the file stays as it was.
    root.write("sim/mount.fail-rw", "");
    EnDisFilter(works.get(), 1);
    EXPECT_EQ(saved, root.read("opt/set/filter.txt"));
    EXPECT_EQ(std::vector<int>{28}, drainQueue(works.get())) << "the filter is chosen all the same";

    // Missing file: every filter disabled, nothing is sent.
    std::filesystem::remove(root.path("opt/set/filter.txt"));
    LoadTabFiltri(works.get());
    works->sfValue = 0;
    SetFilterFromfreq(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty());
}

TEST(TableFile, LongLinesStayOneLine)
{
    const std::string text = std::string(300, '1') + " 2\r\nnext\n;c\n\nlast";
    std::vector<std::string> lines = splitTableLines(text, 255);
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(255u, lines[0].size());
    EXPECT_EQ("next", lines[1]);
    EXPECT_TRUE(isCommentLine(lines[2]));
    EXPECT_EQ("", lines[3]);
    EXPECT_EQ("last", lines[4]);
    NumberCursor bad(std::string("12 x 7"));
    EXPECT_EQ(12u, bad.nextUnsigned());
    EXPECT_EQ(0, bad.nextInt());
    NumberCursor inf(std::string("inf nan -5"));
    EXPECT_FLOAT_EQ(0.0f, inf.nextFloat());
    EXPECT_FLOAT_EQ(0.0f, inf.nextFloat());
    EXPECT_EQ(0u, inf.nextUnsigned()) << "negative is no unsigned value";
}
