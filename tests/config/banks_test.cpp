// Banks: loading, cycling with persistence, interface modes, bank reset, factory default.
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "config/banks.h"
#include "config/factory_reset.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "support/sim_root.h"
#include "tuner/tune_memory.h"
#include "tuner/tuner_files.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

struct BankFixture {
    explicit BankFixture(const char* name) : root(name)
    {
        works->setup = setup.get();
        InitGlobalVar(works.get());
        initSetup(works.get());
        setup->enaser = '0';
        setup->enaCatSer = '0';
    }
    std::vector<int> drain()
    {
        std::vector<int> out;
        for (int n; (n = takeQueuedCmd(works.get())) >= 0;)
            out.push_back(n);
        return out;
    }
    TestRoot root;
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
};

TEST(Banks, CyclingWrapsPersistsAndLoadsTheBank)
{
    BankFixture f("banks-cycle");
    Works* w = f.works.get();
    f.root.write("opt/set/antenna.txt", "!Gen\n160m 1800000 2000000 1 3 0 0 0.0\n");
    f.root.write("opt/set/atu_ant3.txt", "950 1900000 1 2 11 22\n");
    f.root.write("opt/set/antenna_b4.txt", "!Gen\n");
    w->maxBank = 5;
    w->numBanco = 4;
    ChangeBanco(w);
    EXPECT_EQ(w->numBanco, 0);
    EXPECT_EQ(w->antennaRowIdx, -1);
    EXPECT_EQ(w->antennaTable[0].ant, 3);
    EXPECT_EQ(tuneMemoryOf(w, 2)[950].capacita, 22);
    EXPECT_NE(f.root.read("opt/set/setup.txt").find("NumBanco: 0\n"), std::string::npos);
    ChangeBanco(w);
    EXPECT_EQ(w->numBanco, 1);
    EXPECT_EQ(tuneMemoryOf(w, 2)[950].present, 0) << "bank 1 has no tuner files";
    EXPECT_NE(f.root.read("opt/set/setup.txt").find("NumBanco: 1\n"), std::string::npos);
}

TEST(Banks, InterfaceModesSwitchSourcesAndTellTheBoard)
{
    BankFixture f("banks-mode");
    Works* w = f.works.get();
    InitTabAntenna(w, 0);
    w->numBanco = 2;
    w->interfaceMode = 0;
    w->cpFlag = 0;
    f.drain();
    ChangeInterfaceBanco(w);  // to KRPIXO
    EXPECT_EQ(w->interfaceMode, 1);
    EXPECT_EQ(f.setup->enaser, '1');
    EXPECT_EQ(f.root.read("opt/set/antenna_b2.txt").substr(0, 5), "!Ixo\n");
    ChangeInterfaceBanco(w);  // to FT-817
    EXPECT_EQ(f.setup->enaser, '0');
    EXPECT_EQ(f.setup->enaCatSer, '1');
    EXPECT_EQ(f.root.read("opt/set/antenna_b2.txt").substr(0, 5), "!817\n");
    ChangeInterfaceBanco(w);  // back to Generic
    EXPECT_EQ(w->interfaceMode, 0);
    EXPECT_EQ(f.setup->enaCatSer, '0');
    EXPECT_EQ(f.drain(), (std::vector<int>{35, 35, 35}));
    // The started source threads see their switches off and end before works goes.
    w->running = 0;
    joinThread(thrSer);
    joinThread(thrCatSer);
}

TEST(Banks, ResetOneBankAllBanksAndFactoryDefault)
{
    BankFixture f("banks-reset");
    Works* w = f.works.get();
    auto writeBank = [&](int bank) {
        f.root.write(antennaFileName(bank).substr(1), "!Ixo\n160m 1800000 2000000 1 2 0 3 0.0\n");
        for (int a = 0; a < 3; ++a)
            f.root.write(atuFileName(bank, a).substr(1), "950 1900000 1 1 1 1\n");
    };
    for (int b = 0; b < 20; ++b)
        writeBank(b);
    w->maxBank = 5;
    w->numBanco = 0;
    ResetBankFiles(w, 0);
    EXPECT_FALSE(f.root.exists("opt/set/antenna.txt"));
    EXPECT_FALSE(f.root.exists("opt/set/atu_ant1.txt"));
    EXPECT_FALSE(f.root.exists("opt/set/atu_ant3.txt"));
    EXPECT_TRUE(f.root.exists("opt/set/antenna_b1.txt"));
    // The current bank now shows the defaults and recalls nothing.
    EXPECT_EQ(w->interfaceMode, 0);
    EXPECT_EQ(w->antennaTable[0].ant, 1);
    EXPECT_EQ(w->antennaTable[0].atuBypass, 1);
    EXPECT_EQ(w->antennaTable[0].ampEnable, 0);
    EXPECT_EQ(tuneMemoryOf(w, 0)[950].present, 0);
    EXPECT_EQ(w->antennaRowIdx, -1);

    ResetBankFiles(w, 5);  // all banks of maxBank 5
    for (int b = 0; b < 5; ++b)
        EXPECT_FALSE(f.root.exists(antennaFileName(b).substr(1))) << b;
    EXPECT_TRUE(f.root.exists("opt/set/antenna_b5.txt"));
    EXPECT_TRUE(f.root.exists("opt/set/atu_ant2_b19.txt"));

    uint8_t confirm = 0;
    FactoryDefault(w, &confirm);
    EXPECT_TRUE(f.root.exists("opt/set/antenna_b5.txt")) << "nothing without the confirmation";
    confirm = 1;
    FactoryDefault(w, &confirm);
    EXPECT_EQ(confirm, 0);
    for (int b = 0; b < 20; ++b)
        for (int a = 0; a < 3; ++a)
            EXPECT_FALSE(f.root.exists(atuFileName(b, a).substr(1)));
    EXPECT_FALSE(f.root.exists("opt/set/antenna_b19.txt"));
    EXPECT_TRUE(f.root.exists("opt/set/setup.txt"));
}

TEST(Banks, UnwritablePartitionDeletesNothing)
{
    BankFixture f("banks-ro");
    Works* w = f.works.get();
    f.root.write("opt/set/antenna_b3.txt", "!Gen\n");
    f.root.write("sim/mount.fail-rw", "");
    testing::internal::CaptureStderr();
    DeleteFileConf(w, 3, 3);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(f.root.exists("opt/set/antenna_b3.txt"));
}

} // namespace
