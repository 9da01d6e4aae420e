// The link thread in this process, against the simulated board over its pseudo-terminal.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "core/setup.h"
#include "core/works.h"
#include "sim_unit.h"
#include "support/sim_root.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <memory>
#include <algorithm>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

struct LinkFixture : ::testing::Test {
    TestRoot root{"link"};
    sim::SimUnit unit{root.root()};
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> record = std::make_unique<Orvosetup>();
    pthread_t thread{};
    bool started = false;

    void SetUp() override
    {
        works->setup = record.get();
        initSetup(works.get());
        works->cpFlag = 0;  // the board has answered "CPFFFF;": errors may be listed
    }
    void TearDown() override
    {
        works->running = 0;
        if (started)
            pthread_join(thread, nullptr);
        unit.stop();
    }
    void startLink()
    {
        ASSERT_EQ(0, pthread_create(&thread, nullptr, Linear, works.get()));
        started = true;
    }
    // Waits until the host has sent `text` `n` times in all.
    bool waitHost(const std::string& text, size_t n = 1, double seconds = 10)
    {
        return unit.waitForFrames([&](const auto& log) { return countHost(log, text) >= n; }, seconds);
    }
};

TEST(LinkQueue, FullQueueRefusesNewCommandsAndKeepsTheQueued)
{
    auto works = std::make_unique<Works>();
    for (int i = 0; i < CMD_QUEUE_SIZE - 1; i++)
        ASSERT_EQ(7, IncPNTIn_CMDLinear(7, works.get())) << "entry " << i;
    EXPECT_EQ(-1, IncPNTIn_CMDLinear(9, works.get())) << "the 30th pending command is refused";
    EXPECT_EQ(1u, works->cmdRefused);
    for (int i = 0; i < CMD_QUEUE_SIZE - 1; i++)
        ASSERT_EQ(7, takeQueuedCmd(works.get())) << "entry " << i << " lost";
    EXPECT_EQ(-1, takeQueuedCmd(works.get()));
    EXPECT_EQ(-1, IncPNTIn_CMDLinear(2, works.get())) << "a link state is not a command";
}

TEST_F(LinkFixture, PollsStatusAndFrequencyAndWorksOffTheQueue)
{
    IncPNTIn_CMDLinear(7, works.get());
    IncPNTIn_CMDLinear(18, works.get());
    startLink();
    ASSERT_TRUE(waitHost("FM;", 2));
    auto log = unit.wireLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("4dST;", log.front().frame);
    auto texts = hostTexts(log);
    std::vector<std::string> expected = {"ST;", "SA1;", "ST;", "MP1;", "ST;", "FM;", "ST;", "FM;"};
    ASSERT_GE(texts.size(), expected.size());
    EXPECT_EQ(expected, std::vector<std::string>(texts.begin(), texts.begin() + 8));
}

TEST_F(LinkFixture, BurstSendsQueuedCommandsBackToBack)
{
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    {
        // Queue while the link runs, as the bias reset does.
        for (int number : {17, 36, 37, 38, 18})
            IncPNTIn_CMDLinear(number, works.get());
        works->cmdBurst = 1;
    }
    ASSERT_TRUE(waitHost("MP1;", 1));
    ASSERT_TRUE(unit.waitForFrames(
        [](const auto& log) {
            auto t = hostTexts(log);
            return !t.empty() && t.back() == "ST;" && countHost(log, "MP1;") == 1 && t[t.size() - 2] == "MP1;";
        },
        5));
    auto texts = hostTexts(unit.wireLog());
    auto mp0 = std::find(texts.begin(), texts.end(), "MP0;");
    ASSERT_NE(texts.end(), mp0);
    // The burst starts after the reply in flight when it was asked for (status or frequency).
    EXPECT_TRUE(*(mp0 - 1) == "ST;" || *(mp0 - 1) == "FM;") << *(mp0 - 1);
    std::vector<std::string> burst(mp0, mp0 + 6);
    EXPECT_EQ((std::vector<std::string>{"MP0;", "ER0000;", "ER0001;", "ER0002;", "MP1;", "ST;"}), burst);
    EXPECT_EQ(0, works->cmdBurst.load());
}

TEST_F(LinkFixture, NoReplyIsSentFourTimesThenErrorFourAndStatus)
{
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    unit.board().injectFault(sim::Fault::silence(4, "FM"));
    // Four frequency polls without a reply, then the status poll; the first of them may
    // already have been on the line when the fault was set.
    const std::vector<std::string> abandoned = {"FM;", "FM;", "FM;", "FM;", "ST;"};
    ASSERT_TRUE(unit.waitForFrames(
        [&](const auto& log) {
            auto t = hostTexts(log);
            return std::search(t.begin(), t.end(), abandoned.begin(), abandoned.end()) != t.end();
        },
        15));
    EXPECT_TRUE(ExistError(works.get(), 4));
    EXPECT_STREQ("Err FM", works->errTable[4].detail);
    EXPECT_EQ(1u, works->retryStops);
    EXPECT_EQ(2000, works->retryErrHold.load());
}

TEST_F(LinkFixture, RefusedUnknownAndBadCrcReplies)
{
    testing::internal::CaptureStderr();
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    // A refusal and an unknown keyword: the same command again.
    unit.board().injectFault(sim::Fault::refuse('!', 1, "SA"));
    IncPNTIn_CMDLinear(7, works.get());
    ASSERT_TRUE(waitHost("SA1;", 2));
    unit.board().injectFault(sim::Fault::unknownKeyword("ZZ", 1, "MP"));
    IncPNTIn_CMDLinear(17, works.get());
    ASSERT_TRUE(waitHost("MP0;", 2));
    EXPECT_EQ(2u, works->retryTotal);

    // A wrong CRC is reported, then decoded: no resend.
    unit.board().injectFault(sim::Fault::wrongCrc(1, "AN"));
    IncPNTIn_CMDLinear(21, works.get());
    // A reply split across writes is put together.
    unit.board().injectFault(sim::Fault::split(3, 30, 1, "SA"));
    IncPNTIn_CMDLinear(7, works.get());
    ASSERT_TRUE(waitHost("SA1;", 3));
    ASSERT_TRUE(waitHost("FM;", countHost(unit.wireLog(), "FM;") + 1));
    auto log = unit.wireLog();
    EXPECT_EQ(1u, countHost(log, "AN0;"));
    EXPECT_EQ(3u, countHost(log, "SA1;"));
    EXPECT_EQ(2u, works->retryTotal);
    EXPECT_FALSE(ExistError(works.get(), 4));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("CMD Errato:SA!;"));
    EXPECT_NE(std::string::npos, err.find("cmd non riconosciuto:ZZ"));
    EXPECT_NE(std::string::npos, err.find("**** CHK ERROR!! "));
}

TEST_F(LinkFixture, LowerCaseCrcDigitsAloneAreACrcError)
{
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    // The board's "MP0;" reply carries the CRC B5: in lower case it is "b5MP0;".
    unit.board().injectFault(sim::Fault::lowerCaseCrc(1, "MP"));
    testing::internal::CaptureStderr();
    IncPNTIn_CMDLinear(17, works.get());
    ASSERT_TRUE(waitHost("MP0;", 1));
    ASSERT_TRUE(waitHost("FM;", countHost(unit.wireLog(), "FM;") + 1));
    std::string err = testing::internal::GetCapturedStderr();
    auto log = unit.wireLog();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const auto& e) { return !e.toBoard && e.frame == "b5MP0;"; }));
    EXPECT_NE(std::string::npos, err.find("**** CHK ERROR!! B5 b5MP0;\n")) << err;
    EXPECT_EQ(1u, countHost(log, "MP0;")) << "decoded all the same: no resend";
    EXPECT_EQ(0u, works->retryTotal);
}

TEST_F(LinkFixture, BadCrcReplyDuringABurstLosesNoQueuedCommand)
{
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    // The first identity reply of the burst comes back with a wrong CRC.
    unit.board().injectFault(sim::Fault::wrongCrc(1, "ER"));
    for (int number : {17, 36, 37, 38, 18})
        IncPNTIn_CMDLinear(number, works.get());
    works->cmdBurst = 1;
    ASSERT_TRUE(unit.waitForFrames(
        [](const auto& log) {
            auto t = hostTexts(log);
            return countHost(log, "MP1;") == 1 && t.back() == "ST;";
        },
        5));
    auto texts = hostTexts(unit.wireLog());
    auto mp0 = std::find(texts.begin(), texts.end(), "MP0;");
    ASSERT_GE(texts.end() - mp0, 6);
    EXPECT_EQ((std::vector<std::string>{"MP0;", "ER0000;", "ER0001;", "ER0002;", "MP1;", "ST;"}),
              std::vector<std::string>(mp0, mp0 + 6));
    EXPECT_EQ(0, works->cmdBurst.load());
}

TEST_F(LinkFixture, StatusReplyAfterRetriesKeepsTheRetryCount)
{
    // The link starts with "ST;": two status polls go unanswered, the third is answered;
    // the queued command after it then has only the retries the status poll left over.
    unit.board().injectFault(sim::Fault::silence(2, "ST"));
    unit.board().injectFault(sim::Fault::silence(2, "SA"));
    IncPNTIn_CMDLinear(7, works.get());
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1, 20));
    auto texts = hostTexts(unit.wireLog());
    std::vector<std::string> expected = {"ST;", "ST;", "ST;", "SA1;", "SA1;", "ST;", "FM;"};
    ASSERT_GE(texts.size(), expected.size());
    EXPECT_EQ(expected, std::vector<std::string>(texts.begin(), texts.begin() + 7));
    EXPECT_EQ(1u, works->retryStops);
    EXPECT_TRUE(ExistError(works.get(), 4));
    EXPECT_STREQ("Err SA", works->errTable[4].detail);
}

TEST_F(LinkFixture, OverlongReplyWrapsTheReceiveBuffer)
{
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    // 500 bytes without ";" fill the buffer; the good reply after them starts it again.
    unit.board().injectFault(sim::Fault::garbageBytes(std::string(500, 'x') + sim::AmpBoard::frame("MP0;"), 1, "MP"));
    testing::internal::CaptureStderr();
    IncPNTIn_CMDLinear(17, works.get());
    ASSERT_TRUE(waitHost("MP0;", 1));
    ASSERT_TRUE(waitHost("FM;", countHost(unit.wireLog(), "FM;") + 1));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)\n"));
    EXPECT_EQ(std::string::npos, err.find("CHK ERROR")) << err;
    EXPECT_EQ(1u, countHost(unit.wireLog(), "MP0;")) << "the reply after the wrap is taken";
    EXPECT_EQ(0u, works->retryTotal);
}

TEST_F(LinkFixture, MicroResetLeavesTheLinkIdle)
{
    startLink();
    ASSERT_TRUE(waitHost("FM;", 1));
    IncPNTIn_CMDLinear(30, works.get());
    IncPNTIn_CMDLinear(7, works.get());
    ASSERT_TRUE(waitHost("MR1;", 1));
    const size_t frames = unit.wireLog().size();
    usleep(1500000);
    EXPECT_EQ(LINK_IDLE, linearProcessStatus);
    EXPECT_EQ(0, works->pageIdx);
    EXPECT_EQ(4u, works->svcFlags & 4u);
    // Nothing more goes out: neither the board's reply nor the queued command moves it.
    auto log = unit.wireLog();
    EXPECT_EQ(0u, countHost(log, "SA1;"));
    for (size_t i = frames; i < log.size(); i++)
        EXPECT_FALSE(log[i].toBoard) << log[i].frame;
}

} // namespace

namespace {

TEST(LinkPort, MissingPortSetsTheFatalErrorAndWaitsQuietly)
{
    TestRoot root("noport");
    auto works = std::make_unique<Works>();
    auto record = std::make_unique<Orvosetup>();
    works->setup = record.get();
    initSetup(works.get());
    setSlot(record->LinPort, "/dev/ttyNONE");
    IncPNTIn_CMDLinear(7, works.get());
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(&thread, nullptr, Linear, works.get()));
    for (int i = 0; i < 100 && works->fatalError == 0; i++)
        usleep(10000);
    EXPECT_EQ(1, works->fatalError.load());
    EXPECT_EQ("Linear: Unable to open device /dev/ttyNONE", fatalErrorMessage(works.get()));
    EXPECT_EQ(-1, works->linFD);
    usleep(200000);
    EXPECT_EQ(7, takeQueuedCmd(works.get())) << "nothing is taken from the queue without a port";
    works->running = 0;
    pthread_join(thread, nullptr);
}

TEST(StatusText, LayoutForTheRemotePeer)
{
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    works->interfaceMode = 2;
    works->attenuator = 3;
    works->antenna = 1;
    works->ampBypass = 0;
    works->atuBypass = 1;
    works->tuneStatus = 1;
    works->swr = 1.5f;
    works->pwrFwd = 100.25f;
    works->pwrIn = 2.5f;
    works->temp1 = 31.0f;
    works->temp2 = 42.25f;
    works->supply[3] = 255;
    works->rawCurrent = 2048;
    works->numBanco = 7;
    works->cpFlag = 0;
    char text[64];
    CreaBufferDiStato(works.get(), text, sizeof text);
    // Band, mode, attenuator, antenna, bypass, tuner, tuning, SWR, forward, input,
    // hottest sensor, supply, current, bank, errors.
    EXPECT_STREQ("----" "2310B1" "001.50" "100.25" "002.50" "42.2" "21.6" "07.0" "07" "0" "00000000;", text);
    AddErrore(works.get(), 4);
    CreaBufferDiStato(works.get(), text, sizeof text);
    EXPECT_EQ(43 + 9u, strlen(text));
    EXPECT_EQ(5, text[42]) << "last error code + 1";
}

} // namespace
