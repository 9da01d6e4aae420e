// Remote audio in-process: the capture and playback threads on the simulated sound interface
// (through the root's own ALSA configuration: a real-time playback device), the Opus codecs, the
// presence checks and the exit routines.
#include "amplifier/errors.h"
#include "audio_test_util.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "remote/audio.h"
#include "sound_card.h"
#include "support/sim_root.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <opus/opus.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Blocks handed to the sender by the capture thread.
std::mutex blocksMutex;
std::vector<std::string> blocks;

void collectBlock(Works* works, const unsigned char* block)
{
    std::lock_guard<std::mutex> lock(blocksMutex);
    blocks.emplace_back(reinterpret_cast<const char*>(block), static_cast<size_t>(works->audioFrameSamples) * 4);
}

size_t blockCount()
{
    std::lock_guard<std::mutex> lock(blocksMutex);
    return blocks.size();
}

bool waitFor(const std::function<bool()>& done, double seconds)
{
    const double end = monoSeconds() + seconds;
    while (!done()) {
        if (monoSeconds() > end)
            return false;
        sleepMs(10);
    }
    return true;
}

// A works record as start-up leaves it, with the setup defaults, on a simulated root whose
// sound interface runs; the remote threads are started by hand.
class RemoteAudio : public ::testing::Test {
protected:
    RemoteAudio() : root("audio"), card(root.root())
    {
        setenv("ALSA_CONFIG_PATH", sim::alsaConfigPath(root.root()).c_str(), 1);
        works->setup = setup.get();
        initSetup(works.get());
        InitErrorTable(works.get());
        works->cpFlag = 0;
        works->running = 1;
        // The shortest playback buffer a USB card takes: a writer faster than the card waits
        // for room, so every block is played.
        works->audioBuffers = 2;
        {
            std::lock_guard<std::mutex> lock(blocksMutex);
            blocks.clear();
        }
        setAudioBlockSink(collectBlock);
    }
    ~RemoteAudio() override
    {
        works->running = 0;
        if (worker.joinable())
            worker.join();
        setAudioBlockSink(nullptr);
        destroyAudioCodecs(works.get());
        card.stop();
        unsetenv("ALSA_CONFIG_PATH");
    }

    void start(void* (*entry)(void*))
    {
        worker = std::thread([this, entry] { entry(works.get()); });
    }
    // Waits for the thread to end by itself.
    bool ended(double seconds)
    {
        if (!waitFor([this] { return threadDone.load(); }, seconds))
            return false;
        worker.join();
        return true;
    }
    void startWatched(void* (*entry)(void*))
    {
        worker = std::thread([this, entry] {
            entry(works.get());
            threadDone = true;
        });
    }
    std::string played() const { return readFile(card.playbackPath()); }

    TestRoot root;
    sim::SoundCard card;
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    std::thread worker;
    std::atomic<bool> threadDone{false};
};

TEST(RemoteAudioBlock, MonoWidenedInPlaceFromTheLastSampleDown)
{
    // 240 distinct mono samples in the first half of a 960-byte block.
    std::vector<uint8_t> block(960, 0xEE);
    for (int k = 0; k < 240; k++) {
        block[2 * k] = static_cast<uint8_t>(k);
        block[2 * k + 1] = static_cast<uint8_t>(0x80 | (k >> 8));
    }
    widenMonoToStereo(block.data(), 240);
    for (int k = 0; k < 240; k++) {
        for (int c = 0; c < 2; c++) {
            ASSERT_EQ(static_cast<uint8_t>(k), block[4 * k + 2 * c]) << "frame " << k << " channel " << c;
            ASSERT_EQ(static_cast<uint8_t>(0x80 | (k >> 8)), block[4 * k + 2 * c + 1]) << "frame " << k;
        }
    }
}

TEST(RemoteAudioCodec, CreatedForTheBitRateOrAudioStaysUncompressed)
{
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    works->audioBitrate = 64000;
    EXPECT_EQ(0, createAudioCodecs(works.get()));
    ASSERT_NE(nullptr, works->opusEnc);
    ASSERT_NE(nullptr, works->opusDec);
    opus_int32 bitrate = 0;
    opus_encoder_ctl(works->opusEnc, OPUS_GET_BITRATE(&bitrate));
    EXPECT_EQ(64000, bitrate);
    destroyAudioCodecs(works.get());
    EXPECT_EQ(nullptr, works->opusEnc);

    // A rate Opus does not take: no codec, and audio goes uncompressed.
    works->audioRate = 44100;
    EXPECT_EQ(-1, createAudioCodecs(works.get()));
    EXPECT_EQ(nullptr, works->opusEnc);
    EXPECT_EQ(nullptr, works->opusDec);
    EXPECT_EQ(0, works->audioBitrate);
}

TEST_F(RemoteAudio, CaptureHandsOnWidenedToneBlocksAndStopsWithItsSwitch)
{
    card.setTone(1000, 8000);
    setSetupSwitch(setup.get(), &Orvosetup::EnableRead, '1');
    startWatched(th_leggi);
    ASSERT_TRUE(waitFor([] { return blockCount() >= 200; }, 20)) << blockCount() << " blocks";
    // The device runs with one block per period and a bounded buffer of whole blocks (half
    // a second), not the device's largest.
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    ASSERT_EQ(0, snd_pcm_get_params(works->pcmIn, &bufferFrames, &periodFrames));
    EXPECT_EQ(240u, periodFrames);
    EXPECT_EQ(24000u, bufferFrames);

    std::string stream;
    {
        std::lock_guard<std::mutex> lock(blocksMutex);
        for (const std::string& b : blocks) {
            ASSERT_EQ(960u, b.size());
            stream += b;
        }
    }
    const std::vector<int16_t> left = audiotest::channel(stream, 2, 0);
    const std::vector<int16_t> right = audiotest::channel(stream, 2, 1);
    EXPECT_EQ(left, right) << "mono widened to both channels";
    // Drop the blocks read before the tone reached the device, then the tone is whole.
    size_t from = 0;
    while (from < left.size() && left[from] == 0)
        ++from;
    const std::vector<int16_t> tone(left.begin() + static_cast<long>(from), left.end());
    ASSERT_GT(tone.size(), 48000u / 2);
    EXPECT_NEAR(1000.0, audiotest::toneHz(tone), 0.5);
    EXPECT_EQ(0u, audiotest::longestQuiet(tone, 4000)) << "no gap in the captured tone";
    EXPECT_EQ(1, works->inChannels);

    setSetupSwitch(setup.get(), &Orvosetup::EnableRead, '0');
    ASSERT_TRUE(ended(5));
    EXPECT_EQ(-1, ExistAnError(works.get())) << "a switched-off capture raises no error";
    EXPECT_EQ(0, works->remoteThreadExited);
    EXPECT_EQ(nullptr, works->pcmIn);
}

TEST_F(RemoteAudio, StereoCaptureKeepsBothChannels)
{
    card.setCaptureChannels(2);
    card.setTone(440, 6000);
    setSlot(setup->InChannels, "2");
    setSetupSwitch(setup.get(), &Orvosetup::EnableRead, '1');
    startWatched(th_leggi);
    ASSERT_TRUE(waitFor([] { return blockCount() >= 100; }, 20));
    std::string stream;
    {
        std::lock_guard<std::mutex> lock(blocksMutex);
        for (const std::string& b : blocks)
            stream += b;
    }
    std::vector<int16_t> left = audiotest::channel(stream, 2, 0);
    EXPECT_EQ(left, audiotest::channel(stream, 2, 1));
    left.erase(left.begin(), left.begin() + static_cast<long>(left.size() / 2));
    EXPECT_NEAR(440.0, audiotest::toneHz(left), 0.5);
}

TEST_F(RemoteAudio, CaptureEndsWithErrorNineWhenTheInterfaceGoesOrCannotBeUsed)
{
    setSetupSwitch(setup.get(), &Orvosetup::EnableRead, '1');
    startWatched(th_leggi);
    ASSERT_TRUE(waitFor([] { return blockCount() >= 10; }, 20));
    card.setPresent(false);
    // Found at the next check, at most 2 s later.
    ASSERT_TRUE(ended(6));
    EXPECT_EQ(std::vector<int>{9}, errorListCopy(works.get()));
    EXPECT_EQ(1, works->remoteThreadExited);
    EXPECT_EQ('0', setupSwitch(setup.get(), &Orvosetup::EnableRead));
    EXPECT_EQ(nullptr, works->pcmIn);
    EXPECT_EQ(0, works->audioOutOn) << "the playback flag is not the capture's to change";

    // A channel count the block cannot hold is refused before the device is touched.
    DeleteErrore(works.get(), 9);
    works->remoteThreadExited = 0;
    threadDone = false;
    card.setPresent(true);
    setSlot(setup->InChannels, "4");
    setSetupSwitch(setup.get(), &Orvosetup::EnableRead, '1');
    startWatched(th_leggi);
    ASSERT_TRUE(ended(5));
    EXPECT_EQ(std::vector<int>{9}, errorListCopy(works.get()));
    EXPECT_EQ(1, works->remoteThreadExited);
}

TEST_F(RemoteAudio, PlaybackOfRawAndOpusMessagesWithSilenceForABadPacket)
{
    works->audioBitrate = 64000;
    ASSERT_EQ(0, createAudioCodecs(works.get()));
    setSetupSwitch(setup.get(), &Orvosetup::EnableWrite, '1');
    works->wsConnected = 1;
    startWatched(th_scrivi);
    ASSERT_TRUE(waitFor([this] { return works->audioOutOn == 1; }, 10));

    // One second of 1 kHz in 240-frame Opus packets, one bad packet, one more second.
    std::vector<unsigned char> packet(960);
    opus_int16 pcm[480];
    const unsigned char badPacket[] = {0x03, 0x00};  // code 3 with no frames: never decodes
    ASSERT_LT(opus_decode(works->opusDec, badPacket, 2, pcm, 240, 0), 0);
    size_t frame = 0;
    auto sendBlocks = [&](int count) {
        for (int b = 0; b < count; b++, frame += 240) {
            const std::string tone = audiotest::stereoTone(1000, 10000, 240, frame);
            for (int i = 0; i < 480; i++)
                pcm[i] = static_cast<opus_int16>(static_cast<uint8_t>(tone[2 * i]) | (static_cast<uint8_t>(tone[2 * i + 1]) << 8));
            const int n = opus_encode(works->opusEnc, pcm, 240, packet.data(), 960);
            ASSERT_GT(n, 0);
            ASSERT_EQ(0, playRemoteAudio(works.get(), packet.data(), static_cast<size_t>(n)));
        }
    };
    sendBlocks(200);
    EXPECT_EQ(0, playRemoteAudio(works.get(), badPacket, sizeof badPacket));
    sendBlocks(200);

    // The peer leaves: the queue is drained into the file and the device made ready again.
    works->wsConnected = 0;
    ASSERT_TRUE(waitFor([this] { return played().size() >= 401u * 960u; }, 10)) << played().size();
    const std::string out = played();
    EXPECT_EQ(401u * 960u, out.size()) << "every packet played, the bad one as one block of silence";
    const std::vector<int16_t> left = audiotest::channel(out, 2, 0);
    EXPECT_EQ(left, audiotest::channel(out, 2, 1));
    const std::vector<int16_t> first(left.begin() + 4800, left.begin() + 200 * 240);
    EXPECT_NEAR(1000.0, audiotest::toneHz(first), 2.0);
    // Exactly one block of silence, where the bad packet was.
    const std::vector<int16_t> around(left.begin() + 199 * 240, left.begin() + 203 * 240);
    EXPECT_EQ(240u, audiotest::longestQuiet(around, 1, 240));
    const std::vector<int16_t> silence(left.begin() + 200 * 240, left.begin() + 201 * 240);
    EXPECT_EQ(std::vector<int16_t>(240, 0), silence);

    // Uncompressed: raw blocks are played as they are; one longer than the block is refused.
    works->audioBitrate = 0;
    ASSERT_TRUE(waitFor([this] { return works->audioOutOn == 1; }, 10));
    works->wsConnected = 1;
    sleepMs(300);  // the thread sees the peer (it looks every 10 ms) and drains when it goes
    const std::string raw = audiotest::stereoTone(500, 5000, 240);
    const std::string tooLong(961, '\x11');
    EXPECT_EQ(-1, playRemoteAudio(works.get(), reinterpret_cast<const unsigned char*>(tooLong.data()), tooLong.size()));
    EXPECT_EQ(0, playRemoteAudio(works.get(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size()));
    works->wsConnected = 0;
    ASSERT_TRUE(waitFor([this, &out] { return played().size() >= out.size() + 960; }, 10));
    EXPECT_EQ(out + raw, played()) << "the raw block, and nothing of the refused one";

    // Switched off: the thread ends without an error; nothing is played any more.
    setSetupSwitch(setup.get(), &Orvosetup::EnableWrite, '0');
    ASSERT_TRUE(ended(5));
    EXPECT_EQ(-1, ExistAnError(works.get()));
    EXPECT_EQ(0, works->audioOutOn);
    EXPECT_EQ(0, playRemoteAudio(works.get(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size()));
}

TEST_F(RemoteAudio, PlaybackDropsAQueueGrownPastAHundredMilliseconds)
{
    works->audioBuffers = 10;  // the default: a buffer of 213 ms
    works->audioBitrate = 0;
    setSetupSwitch(setup.get(), &Orvosetup::EnableWrite, '1');
    works->wsConnected = 1;
    startWatched(th_scrivi);
    ASSERT_TRUE(waitFor([this] { return works->audioOutOn == 1; }, 10));

    // Half a second of audio at once, as after a stall of the network: the card plays 5 ms
    // of it in 5 ms, so the queue grows, and each time it holds more than 4800 frames it is
    // dropped.
    const std::string block = audiotest::stereoTone(1000, 8000, 240);
    const size_t count = 100;
    for (size_t b = 0; b < count; b++)
        ASSERT_EQ(0, playRemoteAudio(works.get(), reinterpret_cast<const unsigned char*>(block.data()), block.size()));
    works->wsConnected = 0;
    ASSERT_TRUE(waitFor([this] { return card.playedFrames() > 0; }, 10));
    sleepMs(1000);  // what was left is drained
    const uint64_t frames = card.playedFrames();
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, count * 240 - 4800) << "at least one queue of 100 ms dropped";
}

TEST_F(RemoteAudio, PlaybackEndsWithErrorTenWhenTheInterfaceGoes)
{
    setSetupSwitch(setup.get(), &Orvosetup::EnableWrite, '1');
    works->wsConnected = 1;
    startWatched(th_scrivi);
    ASSERT_TRUE(waitFor([this] { return works->audioOutOn == 1; }, 10));
    card.setPresent(false);
    ASSERT_TRUE(ended(3));
    EXPECT_EQ(std::vector<int>{10}, errorListCopy(works.get()));
    EXPECT_EQ(1, works->remoteThreadExited);
    EXPECT_EQ('0', setupSwitch(setup.get(), &Orvosetup::EnableWrite));
    EXPECT_EQ(0, works->audioOutOn);
    std::lock_guard<std::mutex> lock(works->audioOutMutex);
    EXPECT_EQ(nullptr, works->pcmOut);
    EXPECT_TRUE(works->playBuf.empty());
}

TEST_F(RemoteAudio, PresenceChecksCountTheInterfaceLines)
{
    EXPECT_EQ(1, VerifyAudioIXO(works.get()));
    EXPECT_EQ(1, Get_AudioIXO(works.get()));
    // Another C-Media device (another product) counts for the settings check only.
    root.write("sim/lsusb", std::string(sim::kSoundCardLsusbLine) + "\nBus 001 Device 006: ID 0d8c:0014 C-Media\n");
    EXPECT_EQ(1, VerifyAudioIXO(works.get()));
    EXPECT_EQ(2, Get_AudioIXO(works.get()));
    card.setPresent(false);
    EXPECT_EQ(0, VerifyAudioIXO(works.get()));
    EXPECT_EQ(1, Get_AudioIXO(works.get()));
    EXPECT_NE(std::string::npos, root.read("sim/lsusb").find("0d8c:0014")) << "other lines kept";
    // The check made every 10 ms while audio plays starts no process: it reads the kernel's
    // USB device list, where a device of another product does not count.
    root.write("sim/commands.log", "");
    card.setPresent(true);
    std::filesystem::create_directories(root.path("sys/bus/usb/devices/1-1.2"));
    root.write("sys/bus/usb/devices/1-1.2/idVendor", "0d8c\n");
    root.write("sys/bus/usb/devices/1-1.2/idProduct", "0014\n");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(1, VerifyAudioIXO(works.get()));
    EXPECT_EQ("", root.read("sim/commands.log"));
}

} // namespace
