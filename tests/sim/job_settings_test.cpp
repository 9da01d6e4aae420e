// The settings `ampsim --show-job` seeds: read by the controller's own readers they give a
// unit that amplifies, tunes automatically and follows the transceiver; a person's own
// files are kept.
#include "amplifier/thermal.h"
#include "config/antenna_table.h"
#include "core/setup.h"
#include "core/works.h"
#include "job_settings.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <memory>

TEST(JobSettings, TheControllerReadsAUnitThatShowsItsJob)
{
    TestRoot root("job-settings");
    root.write("opt/set/ventola.txt", "; mine\n30 50\n");
    sim::seedJobSettings(root.root());
    EXPECT_EQ(root.read("opt/set/ventola.txt"), "; mine\n30 50\n") << "a file already there is kept";
    // Seeding again changes nothing.
    const std::string table = root.read("opt/set/antenna_b1.txt");
    sim::seedJobSettings(root.root());
    EXPECT_EQ(root.read("opt/set/antenna_b1.txt"), table);

    auto works = std::make_unique<Works>();
    auto record = std::make_unique<Orvosetup>();
    works->setup = record.get();
    readSetup(works.get());
    EXPECT_EQ(works->autoTuneMode & 1, 1) << "automatic tuning on";
    EXPECT_FLOAT_EQ(works->swrEscAutoTune, 1.5f);
    EXPECT_EQ(works->attenuatorTune, 3) << "tuning behind the 5 dB attenuator";
    EXPECT_EQ(works->numBanco, 1);
    EXPECT_EQ(works->tuneEnabled & 0x80, 0) << "the tuner is installed";
    EXPECT_EQ(works->setup->EnableFFT, '1') << "the receiver's stream is in use";

    EXPECT_EQ(LoadTabConfig(works.get(), works->numBanco), 1) << "the transceiver link is the frequency source";
    ASSERT_EQ(works->antennaRows, 11);
    int outputs[4] = {};
    for (int i = 0; i < works->antennaRows; ++i) {
        const auto& row = works->antennaTable[i];
        EXPECT_EQ(row.ampEnable, 1) << row.band;
        EXPECT_EQ(row.atuBypass, 0) << row.band;
        EXPECT_EQ(row.ant, sim::jobAntennaOutput(row.band)) << row.band;
        ++outputs[row.ant];
    }
    EXPECT_EQ(sim::jobAntennaOutput("20m"), 3) << "20 m on the end-fed wire";
    EXPECT_EQ(sim::jobAntennaOutput("40m"), 1) << "40 m on its resonant dipole";
    EXPECT_GT(outputs[1], 0);
    EXPECT_GT(outputs[2], 0);
    EXPECT_GT(outputs[3], 0);
}

TEST(JobSettings, FanTableTurnsTheFanUpWithTheHeat)
{
    TestRoot root("job-fan");
    root.write("opt/set/ventola.txt", sim::jobFanTableText());
    auto works = std::make_unique<Works>();
    ReadVentolaFile(works.get());
    const int rows = works->ventolaRowCount;
    ASSERT_GE(rows, 3);
    for (int i = 1; i < rows; ++i) {
        EXPECT_GT(works->ventolaRows[i].temperature, works->ventolaRows[i - 1].temperature);
        EXPECT_GT(works->ventolaRows[i].percent, works->ventolaRows[i - 1].percent);
    }
    EXPECT_EQ(works->ventolaRows[static_cast<size_t>(rows - 1)].percent, 100);
}
