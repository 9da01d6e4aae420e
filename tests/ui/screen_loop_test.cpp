// The screen loop's control duties in process: following the frequency source and
// re-applying the band row, the transceiver's "AN" request, and the transmit-triggered
// automatic tune with its abandonment.
#include "amplifier/amp_test_util.h"
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "core/setup.h"
#include "core/works.h"
#include "display/display_log.h"
#include "display/framebuffer.h"
#include "support/sim_root.h"
#include "tuner/autotune.h"
#include "ui/menu.h"
#include "ui/screen_loop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct LoopFixture {
    LoopFixture() : root("screen-loop")
    {
        works->setup = setup.get();
        initSetup(works.get());
        setup->enaser = '0';
        setup->enaCatSer = '0';
        works->running = 0;
        InitErrorTable(works.get());
        enableErrorList(works.get());
        InitTabAntenna(works.get(), 0);
        works->antennaTable[5].ampEnable = 1;  // 20 m: amplifier in line, antenna 2, 3 dB
        works->antennaTable[5].ant = 2;
        works->antennaTable[5].att = 2;
        works->antennaTable[5].atuBypass = 1;
        works->ampBypass = 1;
    }
    std::vector<int> drain() { return drainQueue(works.get()); }
    TestRoot root;
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    SerParam parameters;
    TimerLoopState state;
};

TEST(ScreenLoop, MeasuredFrequencyIntoAnotherBandAppliesTheRowOnce)
{
    LoopFixture f;
    f.works->interfaceMode = 0;
    f.works->frequency = f.works->lastFrequency = 3600000;
    f.works->antennaRowIdx = 1;
    f.works->freqMeasured = 14100000;
    f.works->fineTuneOk = 1;
    followFrequency(f.works.get(), f.parameters);
    EXPECT_EQ(14100000u, f.works->frequency);
    EXPECT_EQ(14100000u, f.works->lastFrequency);
    EXPECT_EQ(5, f.works->antennaRowIdx);
    EXPECT_EQ(0, f.works->fineTuneOk);
    // Generic mode sends no frequency: the thresholds of the band, then the row: antenna,
    // tuner bypass, amplifier in line, attenuator.
    EXPECT_EQ((std::vector<int>{CMD_THRESHOLDS, CMD_SET_ANTENNA, CMD_TUNE_BYPASS, CMD_AMP_IN_LINE, CMD_ATTENUATOR}),
              f.drain());
    followFrequency(f.works.get(), f.parameters);
    EXPECT_TRUE(f.drain().empty()) << "same frequency, nothing again";
    // A marked row is applied again even at the same frequency.
    f.works->antennaRowIdx = -1;
    f.works->ampBypass = 0;
    followFrequency(f.works.get(), f.parameters);
    EXPECT_EQ((std::vector<int>{CMD_TUNE_BYPASS}), f.drain());
}

TEST(ScreenLoop, TransceiverAndFt817SourcesSendTheFrequencyAndDropAn)
{
    LoopFixture f;
    f.works->interfaceMode = 1;
    f.works->antennaRowIdx = 5;
    f.works->frequency = f.works->lastFrequency = 14100000;
    f.parameters.frequency = 14100001;
    followFrequency(f.works.get(), f.parameters);
    EXPECT_EQ(14100001u, f.works->frequency);
    std::vector<int> sent = f.drain();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(CMD_FREQUENCY, sent.front()) << "a 1 Hz change is sent and the row re-applied";
    // While the amplifier transmits the transceiver's frequency is not taken.
    f.works->statoAmp[1] = 1;
    f.parameters.frequency = 7050000;
    followFrequency(f.works.get(), f.parameters);
    EXPECT_EQ(14100001u, f.works->frequency);
    EXPECT_TRUE(f.drain().empty());

    f.works->statoAmp[1] = 0;
    f.works->interfaceMode = 2;
    f.works->anState = 1;
    f.works->catSerFreq = 7050000;
    followFrequency(f.works.get(), f.parameters);
    EXPECT_EQ(0, f.works->anState);
    EXPECT_EQ(7050000u, f.works->frequency);
    sent = f.drain();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(CMD_AN_STATE, sent[0]);
    EXPECT_EQ(CMD_FREQUENCY, sent[1]);
}

TEST(ScreenLoop, TransceiverAnRequestIsFollowedOnlyWhenIdle)
{
    LoopFixture f;
    f.works->interfaceMode = 1;
    f.parameters.anReq = 1;
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(1, f.works->anState);
    EXPECT_EQ((std::vector<int>{CMD_AN_STATE}), f.drain());
    f.parameters.anReq = 0;
    f.parameters.txFlag = 1;
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(1, f.works->txOn);
    EXPECT_EQ(1, f.works->anState) << "not while the transceiver transmits";
    f.parameters.txFlag = 0;
    f.works->tuneHold = 0x10;
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(1, f.works->anState) << "not while a manual carrier has AN in hand";
    f.works->tuneHold = 0;
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(0, f.works->anState);
    // The amplifier already reports the carrier: the transmit flag still reaches txOn (a
    // search waits for it), the AN request does not reach anState.
    f.works->statoAmp[1] = 1;
    f.parameters.txFlag = 1;
    f.parameters.anReq = 1;
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(1, f.works->txOn);
    EXPECT_EQ(0, f.works->anState);
}

TEST(ScreenLoop, TransmitStartsOneTuneAndAMissingCarrierAbandonsTheKeyTune)
{
    LoopFixture f;
    f.works->interfaceMode = 1;
    f.works->autoTuneMode = 1;
    f.works->tuneHoldFrames = 2;
    f.parameters.txFlag = 1;
    // A carrier stopped just now delays the tune by its frames.
    followTransceiver(f.works.get(), f.parameters, f.state);
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(0, f.works->tuneStatus);
    followTransceiver(f.works.get(), f.parameters, f.state);
    ServeTuneRequests(f.works.get());  // the link thread starts it
    EXPECT_EQ(1, f.works->tuneStatus);
    EXPECT_EQ(0x03, f.works->autoTuneMode);
    f.drain();
    followTransceiver(f.works.get(), f.parameters, f.state);
    ServeTuneRequests(f.works.get());
    EXPECT_TRUE(f.drain().empty()) << "one tune per transmission";
    // After the run the transceiver settles for ten frames, then all is clear again.
    f.works->tuneStatus = 0;
    f.works->autoTuneMode = 0x0B;
    f.parameters.txFlag = 0;
    int frames = 0;
    while ((f.works->autoTuneMode & 0x08) && frames < 50) {
        followTransceiver(f.works.get(), f.parameters, f.state);
        ++frames;
    }
    EXPECT_EQ(0x01, f.works->autoTuneMode);
    EXPECT_EQ(13, frames);

    // The TUNE key asked for a carrier: asked once the queue is empty, then abandoned with
    // error 14 when the transceiver never transmits.
    f.works->autoTuneMode = 0x11;
    followTransceiver(f.works.get(), f.parameters, f.state);
    EXPECT_EQ(0x31, f.works->autoTuneMode);
    f.works->autoTuneMode = 0x51;  // the transceiver link sent the request
    frames = 0;
    while (!ExistError(f.works.get(), 14) && frames < 100) {
        followTransceiver(f.works.get(), f.parameters, f.state);
        ++frames;
    }
    EXPECT_EQ(32, frames);
    EXPECT_EQ(0x01, f.works->autoTuneMode & 0x51);
}

// The screen pictures of the error-screen tests live in a directory of their own, made the
// working directory while the test runs; the display's log lines are collected.
struct PictureDir {
    PictureDir() : dir(std::filesystem::temp_directory_path() / ("ampctl-fatal-" + std::to_string(getpid())))
    {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        {
            std::lock_guard<std::mutex> lock(linesMutex);
            lines.clear();
        }
        setDisplayLogSink([](int, const char* line) {
            std::lock_guard<std::mutex> lock(linesMutex);
            lines.emplace_back(line);
        });
    }
    ~PictureDir()
    {
        setDisplayLogSink(nullptr);
        std::filesystem::current_path(old);
        std::filesystem::remove_all(dir);
    }
    static size_t count(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(linesMutex);
        size_t n = 0;
        for (const std::string& l : lines)
            n += l.find(text) != std::string::npos;
        return n;
    }
    std::filesystem::path dir, old;
    static inline std::mutex linesMutex;
    static inline std::vector<std::string> lines;
};

struct FbOwner {
    FrameBuffer* fb = fbCreateInMemory(800, 480, 4);
    ~FbOwner() { fbDestroy(fb); }
};

TEST(ScreenLoop, PortFailingAgainWhileTheErrorScreenClosesStaysShown)
{
    LoopFixture f;
    FbOwner fb;
    PictureDir pictures;
    f.works->fb = fb.fb;
    f.works->screenPage = 1;
    f.works->ampModel = '0';
    // The view's picture is a FIFO: the frame that leaves the error screen waits in its
    // open until we open the other end, and the port fails again meanwhile.
    ASSERT_EQ(0, mkfifo("img1.png", 0600));
    setFatalError(f.works.get(), 1, "Unable to open device");
    f.works->fatalError = -1;  // Retry pressed: leave the error screen
    std::thread frame([&] { timerFrame(f.works.get(), f.state); });
    int writer = -1;
    for (int i = 0; i < 1000 && writer < 0; ++i) {
        writer = open("img1.png", O_WRONLY | O_NONBLOCK);
        if (writer < 0)
            usleep(10000);
    }
    ASSERT_GE(writer, 0) << "the frame never opened the view's picture";
    setFatalError(f.works.get(), 1, "Unable to open device again");
    close(writer);
    frame.join();
    EXPECT_EQ(1, f.works->fatalError) << "the new failure was overwritten";
    // The next frame shows it, with its retry bar and the new text.
    timerFrame(f.works.get(), f.state);
    EXPECT_EQ(BAR_RETRY, f.works->pageIdx);
    EXPECT_EQ("Unable to open device again", fatalErrorMessage(f.works.get()));
}

TEST(ScreenLoop, ErrorScreenDecodesItsPictureOnceWhileItStays)
{
    LoopFixture f;
    FbOwner fb;
    PictureDir pictures;  // holds no pictures: every attempt to load one is logged
    f.works->fb = fb.fb;
    f.works->ampModel = '0';
    setFatalError(f.works.get(), 2, "CAT port");
    for (int i = 0; i < 5; ++i)
        timerFrame(f.works.get(), f.state);
    EXPECT_EQ(1u, PictureDir::count("start.png image could not be opened"));
    EXPECT_EQ(BAR_RETRY, f.works->pageIdx);
    // The larger model's picture when the model changes under it, once.
    f.works->ampModel = '1';
    for (int i = 0; i < 3; ++i)
        timerFrame(f.works.get(), f.state);
    EXPECT_EQ(1u, PictureDir::count("start120.png image could not be opened"));
    // Left and raised again: the picture is placed again.
    f.works->fatalError = -1;
    timerFrame(f.works.get(), f.state);
    EXPECT_EQ(0, f.works->fatalError);
    setFatalError(f.works.get(), 2, "CAT port");
    timerFrame(f.works.get(), f.state);
    timerFrame(f.works.get(), f.state);
    EXPECT_EQ(2u, PictureDir::count("start120.png image could not be opened"));
}

} // namespace
