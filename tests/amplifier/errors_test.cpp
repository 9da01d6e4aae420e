// The error list and the error key's recovery.
#include "amp_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(ErrorList, TableAddDeleteAndTemporaryWarnings)
{
    auto works = freshWorks();
    EXPECT_STREQ("Comm", works->errTable[4].title);
    EXPECT_STREQ("warn ", works->errTable[4].detail);
    EXPECT_EQ(6, works->errTable[19].flags);
    EXPECT_STREQ("2-Warning", works->errTable[24].title);
    EXPECT_EQ(-1, ExistAnError(works.get()));

    AddErrore(works.get(), 1);
    AddErrore(works.get(), 1);
    EXPECT_EQ(std::vector<int>{1}, errorListCopy(works.get()));
    EXPECT_EQ(1, errorFlags(works.get()) & 1) << "HI SWR needs a bias reset";
    AddErrore(works.get(), 99);
    AddErrore(works.get(), -1);
    EXPECT_EQ(1, works->errCount);

    VerifyWarningTemporaneiDopoResetBias(works.get());
    for (int code : {12, 4, 13})
        AddErrore(works.get(), code);
    DeleteErrore(works.get(), 4);
    EXPECT_EQ((std::vector<int>{12, 13}), errorListCopy(works.get()));
    DeleteErrore(works.get(), 4);
    EXPECT_EQ(2, works->errCount);

    // Every temporary warning goes, also those that move forward into an examined place.
    VerifyWarningTemporaneiDopoResetBias(works.get());
    for (int code : {4, 12, 2, 13, 14})
        AddErrore(works.get(), code);
    VerifyWarningTemporanei(works.get());
    EXPECT_EQ(std::vector<int>{2}, errorListCopy(works.get()));
    EXPECT_EQ(0, works->errList[1]) << "freed places are cleared";
}

TEST(ErrorList, ErrorKeyWithOnlyTheTemperatureAlarmChangesNothing)
{
    auto works = freshWorks();
    AddErrore(works.get(), 2);
    ASSERT_EQ(0, errorFlags(works.get()));
    EXPECT_EQ(0, GPIO_Errori(works.get()));
    EXPECT_EQ(std::vector<int>{2}, errorListCopy(works.get()));
    EXPECT_TRUE(drainQueue(works.get()).empty());
}

TEST(ErrorList, ProtectionFaultRecoveryQueuesTheBiasResetBurst)
{
    auto works = freshWorks();
    works->statoAmp[1] = 2;
    works->ampBypass = 0;
    AddErrore(works.get(), 1);
    EXPECT_EQ(1, GPIO_Errori(works.get()));
    EXPECT_EQ((std::vector<int>{13, 17, 19, 14}), drainQueue(works.get()));
    EXPECT_EQ(1, works->cmdBurst.load());
    EXPECT_EQ(1, works->errResend);

    // The burst is over: the next status reply with no fault empties the list and the flags.
    works->errResend = 2;
    works->cmdBurst = 0;
    decode(works.get(), statusReply(0, 0, 0, 0, 0, 0, 2048, 2048, 0));
    EXPECT_EQ(0, works->errResend);
    EXPECT_EQ(-1, ExistAnError(works.get()));
    EXPECT_EQ(0, errorFlags(works.get()) & 3);

    // A board that reset (byte 2 bit 7) gets the whole initialisation again; bypass kept.
    works->statoAmp[1] = 0;
    works->statoAmp[2] = 0x80;
    works->ampBypass = 1;
    ResetBiasCmd(works.get());
    std::vector<int> queued = drainQueue(works.get());
    ASSERT_GE(queued.size(), 4u);
    EXPECT_EQ(13, queued.front());
    EXPECT_EQ(0, queued[1]) << "VSM; first of the initialisation";
    EXPECT_EQ((std::vector<int>{17, 20, 14}), std::vector<int>(queued.end() - 3, queued.end()));
}

TEST(ErrorList, ErrorKeyClearsTemporaryWarningsOrResetsOtherErrors)
{
    auto works = freshWorks();
    AddErrore(works.get(), 12);
    AddErrore(works.get(), 9);
    EXPECT_EQ(4, errorFlags(works.get()));
    EXPECT_EQ(1, GPIO_Errori(works.get()));
    EXPECT_EQ(std::vector<int>{9}, errorListCopy(works.get()));
    EXPECT_EQ(0, errorFlags(works.get()));
    // No flag left: the key resets the board and empties the list.
    EXPECT_EQ(1, GPIO_Errori(works.get()));
    EXPECT_EQ(-1, ExistAnError(works.get()));
    EXPECT_EQ((std::vector<int>{17, 20, 14}), drainQueue(works.get()));
}

TEST(ErrorList, ErrorHoldIsClaimedByOneThreadAndCountedDownWithoutLosingAClaim)
{
    auto works = freshWorks();
    Works* w = works.get();
    EXPECT_TRUE(claimErrorHold(w, 2000));
    EXPECT_FALSE(claimErrorHold(w, 2000)) << "running: nobody raises again";
    countDownErrorHold(w, 1500);
    EXPECT_EQ(500, w->retryErrHold.load());
    countDownErrorHold(w, 1500);
    EXPECT_EQ(0, w->retryErrHold.load()) << "never below 0";
    countDownErrorHold(w, 60);
    EXPECT_EQ(0, w->retryErrHold.load());

    // The link, the transceiver link and the screen loop meet on it: in every round exactly
    // one claim wins, and a count-down running at the same time never wipes a fresh claim
    // (a load and a separate store let a claim be overwritten by the old value minus the
    // elapsed time).
    for (int round = 0; round < 200; ++round) {
        w->retryErrHold = 0;
        std::atomic<int> winners{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                while (!go) {
                }
                if (claimErrorHold(w, 2000))
                    ++winners;
            });
        threads.emplace_back([&] {
            while (!go) {
            }
            for (int i = 0; i < 50; ++i)
                countDownErrorHold(w, 1);
        });
        go = true;
        for (auto& t : threads)
            t.join();
        ASSERT_EQ(1, winners.load()) << "round " << round;
        ASSERT_GE(w->retryErrHold.load(), 2000 - 50) << "round " << round;
    }
}
