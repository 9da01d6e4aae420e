// Frequency slots, the tune memory and the recall of stored tunes.
#include "amplifier/link.h"
#include "core/works.h"
#include "support/sim_root.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

std::vector<int> drainQueue(Works* works)
{
    std::vector<int> out;
    for (int n; (n = takeQueuedCmd(works)) >= 0;)
        out.push_back(n);
    return out;
}

TuneMemEntry entry(int modo, int l, int c)
{
    TuneMemEntry e;
    e.present = 1;
    e.modo = static_cast<uint8_t>(modo);
    e.induttanza = static_cast<uint16_t>(l);
    e.capacita = static_cast<uint16_t>(c);
    return e;
}

TEST(TuneSlots, ExamplesAndSegmentEdges)
{
    int32_t segStart = 0, segEnd = 0;
    int first = 0, end = 0;
    EXPECT_EQ(AtuIdxSearch(1800000, &segStart, &segEnd, &first, &end), 900);
    EXPECT_EQ(segStart, 1800000);
    EXPECT_EQ(segEnd, 2000000);
    EXPECT_EQ(first, 900);
    EXPECT_EQ(end, 1000);
    EXPECT_EQ(AtuIdxSearch(7050000, nullptr, nullptr, nullptr, nullptr), 2110);
    EXPECT_EQ(AtuIdxSearch(14200000, nullptr, nullptr, nullptr, nullptr), 3130);
    EXPECT_EQ(AtuIdxSearch(50100000, nullptr, nullptr, nullptr, nullptr), 4571);
    EXPECT_EQ(AtuIdxSearch(2001000, &segStart, nullptr, &first, nullptr), 1000);
    EXPECT_EQ(segStart, 2000000);
    EXPECT_EQ(first, 1000);
    // The upper half of a segment's last step gives the next segment's first slot.
    EXPECT_EQ(AtuIdxSearch(7299000, nullptr, nullptr, &first, &end), 2160);
    EXPECT_EQ(first, 2100);
    EXPECT_EQ(end, 2160);
    // The last segment and beyond.
    EXPECT_EQ(AtuIdxSearch(54000000, nullptr, &segEnd, nullptr, &end), 4649);
    EXPECT_EQ(segEnd, 54000000);
    EXPECT_EQ(end, 4649);
    EXPECT_EQ(AtuIdxSearch(54100000, nullptr, nullptr, nullptr, nullptr), 4652);
    // The first slot of every segment is where the table says.
    const int firstSlots[22] = {0,    900,  1000, 1375, 1500, 1766, 1780, 2100, 2160, 2720, 2725,
                                3110, 3145, 3510, 3527, 3810, 3835, 3969, 3975, 4095, 4163, 4569};
    for (int k = 0; k < 22; ++k) {
        AtuIdxSearch(static_cast<uint32_t>(tabAtuStep[k][0]), nullptr, nullptr, &first, nullptr);
        EXPECT_EQ(first, firstSlots[k]) << "segment " << k;
    }
}

TEST(TuneSlots, SlotAndFrequencyAgreeOverEverySlot)
{
    for (int slot = 0; slot <= 4649; ++slot) {
        const int32_t f = AtuFreqfromIdx(slot);
        ASSERT_EQ(AtuIdxSearch(static_cast<uint32_t>(f), nullptr, nullptr, nullptr, nullptr), slot) << f;
        if (slot > 0) {
            ASSERT_GT(f, AtuFreqfromIdx(slot - 1));
        }
    }
    EXPECT_EQ(AtuFreqfromIdx(900), 1800000);
    EXPECT_EQ(AtuFreqfromIdx(1000), 2000000);
    EXPECT_EQ(AtuFreqfromIdx(4649), 54000000);
}

TEST(TuneMemory, EntriesAndNearestSearch)
{
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_BYPASS, 10, 20), 100, 0);
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_LC, 1, 2), 5000, 0);  // beyond the memory: ignored
    TuneMemEntry e;
    LoadTuneValFromTabRam(w, &e, 100, 0);
    EXPECT_EQ(e.present, 1);
    EXPECT_EQ(e.modo, TUNE_MODE_CL) << "a stored bypass comes back as CL";
    LoadTuneValFromTabRam(w, &e, 5000, 0);
    EXPECT_EQ(e.present, 0);
    LoadTuneValFromTabRam(w, &e, 100, 1);
    EXPECT_EQ(e.present, 0) << "antennas have their own memory";
    // Antenna numbers other than 0 and 1 all use the third memory.
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_CL, 3, 4), 7, 5);
    LoadTuneValFromTabRam(w, &e, 7, 2);
    EXPECT_EQ(e.present, 1);

    // Equal distance: the lower slot wins; the distance must stay below to - from.
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_CL, 1, 1), 2107, 0);
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_CL, 2, 2), 2113, 0);
    EXPECT_EQ(SearchBestTune(w, 2110, 2100, 2160, 0), 2107);
    EXPECT_EQ(SearchBestTune(w, 2110, 2109, 2112, 0), -1);
    EXPECT_EQ(EsisteTuneValInTabRam(w, 2110, 2100, 2160, 0), 0);
    EXPECT_EQ(EsisteTuneValInTabRam(w, 2130, 2125, 2135, 0), 1);
}

TEST(TuneMemory, RecallStaysInsideItsSegment)
{
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    // 7.0-7.3 MHz segment: slots 2100..2159. An entry on its last slot is next to 7.3 MHz,
    // but 7.3 MHz opens the next segment and must not see it.
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_CL, 50, 60), 2159, 0);
    w->tuneval = TUNE_BIT_SIDE_B;
    w->frequency = 7300000;
    LoadTuneFromMEM(w, 0);
    EXPECT_EQ(w->tuneval, TUNE_BIT_SIDE_B);
    w->frequency = 7298000;
    LoadTuneFromMEM(w, 0);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(w->tuneval), 50);
    EXPECT_EQ(DecodeCapacitaFromTuneval(w->tuneval), 60);
}

TEST(TuneMemory, RecallLoadsNearestAndLogsOnlyAChange)
{
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    w->frequency = 7050000;  // slot 2110
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_LC, 120, 340), 2107, 1);
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_CL, 7, 8), 2113, 1);
    w->tuneval = TUNE_BIT_BYPASS;
    testing::internal::CaptureStderr();
    LoadTuneFromMEM(w, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              ">>>>>>>>>>>>>>> MEMTUNE: load a Tune for 7050000 idx:2107 -> C 340 I 120!!\n");
    EXPECT_EQ(w->capacita, 340);
    EXPECT_EQ(w->induttanza, 120);
    EXPECT_EQ(w->modoTune, TUNE_MODE_LC);
    EXPECT_EQ(w->tuneval & TUNE_MODE_BITS, TUNE_BIT_SIDE_A);
    // The same tune again: nothing logged, nothing changed.
    const uint32_t before = w->tuneval;
    testing::internal::CaptureStderr();
    LoadTuneFromMEM(w, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(w->tuneval, before);
}

TEST(TuneMemory, BandChangeQueuesRecallZeroOrBypass)
{
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    w->frequency = 14200000;
    w->antenna = 2;
    GestioneLoadTuneVal(w, 1);
    GestioneLoadTuneVal(w, 0);
    SaveTuneValsuTabRam(w, entry(TUNE_MODE_CL, 1, 1), 3140, 2);  // same segment 3110..3144
    GestioneLoadTuneVal(w, 1);
    w->tuneStatus = 1;  // a running tune suppresses the recall
    GestioneLoadTuneVal(w, 1);
    EXPECT_EQ(drainQueue(w), (std::vector<int>{CMD_TUNE_ZERO, CMD_TUNE_BYPASS, CMD_TUNE_RECALL}));
}

TEST(TuneMemory, InsertStoresDecodedTuneAndWritesFile)
{
    TestRoot root("tune-insert");
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    w->frequency = 3600000;  // slot 1375 + 25
    w->tuneval = tunewordWithMode(tunewordWithC(tunewordWithL(0, 77), 99), TUNE_MODE_LC);
    testing::internal::CaptureStderr();
    InsertTuneToMem(w, 4, 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("--------------> Save Tune To File idx 3600000 (idx:1400)\n"), std::string::npos);
    EXPECT_NE(log.find("-------------- Save TuneVal C:99, L:77, M:2\n"), std::string::npos);
    EXPECT_EQ(root.read("opt/set/atu_ant1_b4.txt"), "1400 3600000 1 2 77 99\n");
}

TEST(TuneLock, GivesMutualExclusion)
{
    auto works = std::make_unique<Works>();
    Works* w = works.get();
    int counter = 0;
    auto bump = [&] {
        for (int i = 0; i < 5000; ++i) {
            WaitSemaforoTuneval(w);
            const int seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
            StopSemaforoTuneval(w);
        }
    };
    std::thread a(bump), b(bump);
    a.join();
    b.join();
    EXPECT_EQ(counter, 10000);
}

} // namespace
