// Start-up pieces in-process: the second run of the defaults, the loading countdown's
// mailbox posts, and a thread slot restarted while its previous thread still runs.
#include "amplifier/amp_test_util.h"
#include "amplifier/thresholds.h"
#include "app/startup_threads.h"
#include "core/setup.h"
#include "core/threads.h"
#include "platform/clock.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(Startup, SecondDefaultsRunUndoesTheBoardInitialisationChoices)
{
    TestRoot root("defaults-twice");
    auto works = freshWorks(false);
    Orvosetup setup{};
    works->setup = &setup;
    works->configRows = {parseConfigLine("14000000 0 1000 4000 250 4000 10 1000 0 30 30 200 1100"),
                         parseConfigLine("14350000 0 1000 4000 250 4000 10 1000 0 30 30 200 1100")};
    works->configRowCount = 2;
    InitMicroCmd(works.get());
    ASSERT_EQ(100, works->fanPercentOld);
    ASSERT_EQ(0, works->thresholdRow);
    ASSERT_EQ(1732, works->tsPar[0]);

    testing::internal::CaptureStderr();
    readSetup(works.get());  // no setup.txt: the defaults run again, the file is written
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(-1, works->fanPercentOld);
    EXPECT_EQ(-1, works->thresholdRow);
    EXPECT_EQ((std::vector<int>{4095, 4095, 1500, 3700}),
              (std::vector<int>{works->tsPar[0], works->tsPar[1], works->tsPar[2], works->tsPar[3]}));
    // Kept: the fan value, the band table and every queued command (thresholds included).
    EXPECT_EQ(100, works->fanPercent);
    EXPECT_EQ(2, works->configRowCount);
    EXPECT_EQ((std::vector<int>{0, 36, 37, 38, 17, 22, 23, 21, 7, 12, 11, 24, 33, 34, 13, 32}),
              drainQueue(works.get()));
    EXPECT_TRUE(root.exists("opt/set/setup.txt"));
}

TEST(Startup, LoadingCountdownPostsItsCodeOnceAtFourAndOnceAtTheEnd)
{
    auto works = freshWorks();
    works->fb = nullptr;  // headless: the countdown still runs and logs
    waitIXO = 6;
    startInitThread = 1;
    testing::internal::CaptureStderr();
    const double start = monoSeconds();
    std::thread countdown(LoadThread, works.get());

    // The button thread's part: take every code from the mailbox.
    std::vector<int> codes;
    double firstAt = 0;
    const auto collect = [&](double until) {
        while (monoSeconds() < until) {
            if (uint8_t code = works->tinyCmd.exchange(0)) {
                codes.push_back(code);
                if (codes.size() == 1)
                    firstAt = monoSeconds() - start;
            }
            sleepMs(5);
        }
    };
    for (double end = start + 30; codes.empty() && monoSeconds() < end;)
        collect(monoSeconds() + 0.05);
    ASSERT_EQ(1u, codes.size());
    // Counter 6, 5, 4: the code goes with the third second, never before.
    EXPECT_GE(firstAt, 2.9);
    collect(monoSeconds() + 2.0);
    EXPECT_EQ(1u, codes.size()) << "posted again while counting down";
    EXPECT_EQ(0, works->startupDone.load());

    startInitThread = 0;
    countdown.join();
    collect(monoSeconds() + 0.1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ((std::vector<int>{181, 181}), codes);
    EXPECT_EQ(1, works->startupDone.load());
    size_t at = 0;
    for (const char* line : {"Time Loading ... 6..\n", "Time Loading ... 5..\n", "Time Loading ... 4..\n",
                             "Time Loading ... 3..\n"}) {
        at = err.find(line, at);
        ASSERT_NE(std::string::npos, at) << line << err;
    }
}

TEST(Startup, MailboxWriterGivesUpAfterASecondWithoutAButtonThread)
{
    auto works = freshWorks();
    works->tinyCmd = 197;  // posted earlier, never taken
    testing::internal::CaptureStderr();
    const double before = monoSeconds();
    postTinyCmd(works.get(), 181);
    const double waited = monoSeconds() - before;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_GE(waited, 0.99);
    EXPECT_EQ(197, works->tinyCmd.load()) << "the waiting code is not overwritten";
    EXPECT_NE(std::string::npos, err.find("tinyCmd busy, code 181 not posted\n"));
    // An empty mailbox takes the code at once.
    works->tinyCmd = 0;
    postTinyCmd(works.get(), 181);
    EXPECT_EQ(181, works->tinyCmd.load());
}

std::atomic<bool> releaseHolder{false};
std::atomic<int> restarted{0};

void* holder(void*)
{
    while (!releaseHolder)
        sleepMs(5);
    return nullptr;
}

void* shortLived(void*)
{
    sleepMs(300);
    return nullptr;
}

void* countRun(void*)
{
    restarted++;
    return nullptr;
}

TEST(ThreadSlots, RestartWaitsForThePreviousRunWithinTheBound)
{
    auto works = freshWorks();
    ThreadId slot;
    // The previous run ends within the wait: the slot is restarted.
    ASSERT_EQ(0, startThread(slot, shortLived, works.get()));
    restarted = 0;
    EXPECT_EQ(0, startThread(slot, countRun, works.get()));
    EXPECT_TRUE(joinThread(slot));
    EXPECT_EQ(1, restarted.load());

    // The previous run does not end: refused after the bounded wait, nothing started.
    releaseHolder = false;
    ASSERT_EQ(0, startThread(slot, holder, works.get()));
    testing::internal::CaptureStderr();
    const double before = monoSeconds();
    EXPECT_EQ(-1, startThread(slot, countRun, works.get()));
    const double waited = monoSeconds() - before;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_GE(waited, THREAD_RESTART_WAIT_MS / 1000.0 - 0.01);
    EXPECT_EQ(1, restarted.load());
    EXPECT_NE(std::string::npos, err.find("thread still running after 2000 ms, not started again\n"));
    releaseHolder = true;
    EXPECT_TRUE(joinThread(slot)) << "the slot still names the previous run";
}

TEST(ThreadSlots, RefusedStartsFollowTheirFailurePolicy)
{
    auto works = freshWorks();
    Orvosetup setup{};
    works->setup = &setup;
    initSetup(works.get());
    works->cpFlag = 0;
    InitErrorTable(works.get());
    releaseHolder = false;
    // Each slot is held by a run that does not end; its start function is then refused.
    struct Case {
        ThreadId* slot;
        char* flag;
        void (*start)(Works*);
        int error;
        bool remote;
    };
    const Case cases[] = {
        {&thrScrivi, &setup.EnableWrite, StartThreadAudioWrite, 10, true},
        {&thrLeggi, &setup.EnableRead, StartThreadAudioRead, 9, true},
        {&thrCat, &setup.EnableCAT, StartThreadCAT, 20, true},
        {&thrFFT, &setup.EnableFFT, StartIxoReadFFT, 5, true},
        {&thrSer, &setup.enaser, StartThreadIXO, 8, false},
    };
    testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        ASSERT_EQ(0, startThread(*c.slot, holder, works.get()));
        *c.flag = '1';
        works->remoteThreadExited = 0;
        c.start(works.get());
        EXPECT_EQ('0', *c.flag) << "the switch tells the truth";
        EXPECT_TRUE(ExistError(works.get(), c.error)) << c.error;
        EXPECT_EQ(c.remote ? 1 : 0, works->remoteThreadExited.load()) << c.error;
    }
    // The link: its stored switch stays, the error screen shows.
    ASSERT_EQ(0, startThread(thrLin, holder, works.get()));
    setup.EnableLinear = '1';
    StartThreadLinear(works.get());
    EXPECT_EQ('1', setup.EnableLinear);
    EXPECT_EQ(1, works->fatalError.load());
    EXPECT_STREQ("Linear: previous link still running", works->fatalErrorText);
    testing::internal::GetCapturedStderr();

    releaseHolder = true;
    for (const Case& c : cases)
        EXPECT_TRUE(joinThread(*c.slot));
    EXPECT_TRUE(joinThread(thrLin));
}

} // namespace
