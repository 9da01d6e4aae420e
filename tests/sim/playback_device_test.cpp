// The simulated sound interface's playback device, opened through the root's own ALSA
// configuration as the controller opens it: what it takes, how it plays in time, how it
// underruns, waits and drops. Bounds on time are one-sided (the card never plays faster than
// its clock; a loaded machine only makes things later), the rest are frame counts.
#include "platform/clock.h"
#include "remote/audio_test_util.h"
#include "root_builder.h"
#include "sound_card.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace {

constexpr int kFrameBytes = 4;

bool waitFor(const std::function<bool()>& done, double seconds)
{
    const double end = monoSeconds() + seconds;
    while (!done()) {
        if (monoSeconds() > end)
            return false;
        sleepMs(5);
    }
    return true;
}

class PlaybackDevice : public ::testing::Test {
protected:
    PlaybackDevice() : root(sim::buildRoot(freshTempDir("playback-device"))), card(root)
    {
        snd_input_t* in = nullptr;
        if (snd_config_top(&config) == 0 && snd_input_stdio_open(&in, sim::alsaConfigPath(root).c_str(), "r") == 0) {
            snd_config_load(config, in);
            snd_input_close(in);
        }
    }
    ~PlaybackDevice() override
    {
        if (pcm)
            snd_pcm_close(pcm);
        if (config)
            snd_config_delete(config);
        card.stop();
        std::filesystem::remove_all(root);
    }

    int open(int mode = 0) { return snd_pcm_open_lconf(&pcm, "hw:1", SND_PCM_STREAM_PLAYBACK, mode, config); }
    // The controller's set-up: 16-bit stereo at 48 kHz, `periods` periods of 1024 frames.
    int configure(unsigned periods, unsigned rate = 48000, snd_pcm_format_t format = SND_PCM_FORMAT_S16_LE)
    {
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        int rc = snd_pcm_hw_params_any(pcm, hw);
        if (rc >= 0)
            rc = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
        if (rc >= 0)
            rc = snd_pcm_hw_params_set_format(pcm, hw, format);
        if (rc >= 0)
            rc = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0);
        if (rc >= 0)
            rc = snd_pcm_hw_params_set_channels(pcm, hw, 2);
        if (rc >= 0)
            rc = snd_pcm_hw_params_set_periods(pcm, hw, periods, 0);
        if (rc >= 0)
            rc = snd_pcm_hw_params_set_buffer_size(pcm, hw, periods * 1024);
        if (rc >= 0)
            rc = snd_pcm_hw_params(pcm, hw);
        if (rc >= 0)
            rc = snd_pcm_prepare(pcm);
        return rc;
    }
    snd_pcm_sframes_t write(const std::string& bytes)
    {
        return snd_pcm_writei(pcm, bytes.data(), bytes.size() / kFrameBytes);
    }
    std::string played() const { return readFile(card.playbackPath()); }

    std::string root;
    sim::SoundCard card;
    snd_config_t* config = nullptr;
    snd_pcm_t* pcm = nullptr;
};

TEST_F(PlaybackDevice, TakesWhatAUsbCardTakes)
{
    ASSERT_EQ(0, open());
    EXPECT_LT(configure(1), 0) << "one period: a USB card takes two at least";
    EXPECT_LT(configure(10, 44100), 0);
    EXPECT_LT(configure(10, 48000, SND_PCM_FORMAT_U8), 0);
    EXPECT_EQ(0, configure(10));
    snd_pcm_uframes_t buffer = 0, period = 0;
    ASSERT_EQ(0, snd_pcm_get_params(pcm, &buffer, &period));
    EXPECT_EQ(10240u, buffer);
    EXPECT_EQ(1024u, period);
    EXPECT_EQ(0, configure(256)) << "a buffer of 1 MiB";
    EXPECT_LT(configure(257), 0);

    // Without the card's end of its output the device is not there.
    snd_pcm_close(pcm);
    pcm = nullptr;
    card.stop();
    EXPECT_LT(open(), 0);
}

TEST_F(PlaybackDevice, PlaysAtTheClockRateAndMakesAWriterWaitWhileFull)
{
    ASSERT_EQ(0, open());
    ASSERT_EQ(0, configure(4));  // 4096 frames
    const size_t frames = 14400;  // 300 ms
    const std::string tone = audiotest::stereoTone(1000, 10000, frames);
    const double from = monoSeconds();
    ASSERT_EQ(static_cast<snd_pcm_sframes_t>(frames), write(tone));
    const double wrote = monoSeconds() - from;
    const uint64_t playedThen = card.playedFrames();
    const double elapsed = monoSeconds() - from;
    // The write could only end once the card had made room for all but one buffer.
    EXPECT_GE(wrote, static_cast<double>(frames - 4096) / 48000);
    snd_pcm_sframes_t delay = 0;
    ASSERT_EQ(0, snd_pcm_delay(pcm, &delay));
    EXPECT_LE(delay, 4096);
    // Not all at once: never more than the clock allows (one USB frame of slack).
    EXPECT_LE(static_cast<double>(playedThen), elapsed * 48000 + 48);

    // A drain plays out what is queued and stops; the output is the tone, byte for byte.
    ASSERT_EQ(0, snd_pcm_drain(pcm));
    EXPECT_EQ(SND_PCM_STATE_SETUP, snd_pcm_state(pcm));
    EXPECT_GE(monoSeconds() - from, static_cast<double>(frames) / 48000);
    ASSERT_TRUE(waitFor([&] { return card.playedFrames() >= frames; }, 5)) << card.playedFrames();
    EXPECT_EQ(tone, played());
}

TEST_F(PlaybackDevice, UnderrunsWhenTheWriterStopsAndPlaysAgainAfterPrepare)
{
    ASSERT_EQ(0, open());
    ASSERT_EQ(0, configure(10));
    const std::string first = audiotest::stereoTone(500, 8000, 2400);
    ASSERT_EQ(2400, write(first));
    // Nothing more: the card plays the 50 ms and then finds its queue empty.
    ASSERT_TRUE(waitFor([&] { return snd_pcm_avail(pcm) == -EPIPE; }, 5));
    EXPECT_EQ(SND_PCM_STATE_XRUN, snd_pcm_state(pcm));
    EXPECT_EQ(-EPIPE, write(first));
    ASSERT_TRUE(waitFor([&] { return card.playedFrames() >= 2400; }, 5));
    sleepMs(100);
    EXPECT_EQ(2400u, card.playedFrames()) << "every queued frame, and nothing after them";

    // Prepared again, it plays what is written next.
    const std::string second = audiotest::stereoTone(700, 8000, 960, 2400);
    ASSERT_EQ(0, snd_pcm_prepare(pcm));
    ASSERT_EQ(960, write(second));
    ASSERT_EQ(0, snd_pcm_drain(pcm));
    ASSERT_TRUE(waitFor([&] { return card.playedFrames() >= 3360; }, 5));
    EXPECT_EQ(first + second, played());
}

TEST_F(PlaybackDevice, NonblockingWritesStopAtAFullBufferAndResetDropsTheQueue)
{
    ASSERT_EQ(0, open(SND_PCM_NONBLOCK));
    ASSERT_EQ(0, configure(2));  // 2048 frames
    const std::string tone = audiotest::stereoTone(1000, 8000, 3000);
    const snd_pcm_sframes_t taken = write(tone);
    EXPECT_GE(taken, 2048) << "the buffer, and what the card played meanwhile";
    EXPECT_LT(taken, 3000);
    snd_pcm_sframes_t more = 0;
    while ((more = write(tone.substr(0, 960))) > 0) {
    }
    EXPECT_EQ(-EAGAIN, more) << "full: the writer is told to come back";
    // Room comes as the card plays: the poll descriptor wakes a waiting writer.
    EXPECT_EQ(1, snd_pcm_wait(pcm, 2000));
    EXPECT_GE(snd_pcm_avail(pcm), 1024);

    // A reset drops the queue: the card plays little of it and finds the rest gone.
    ASSERT_EQ(0, snd_pcm_drop(pcm));
    ASSERT_EQ(0, snd_pcm_prepare(pcm));
    ASSERT_TRUE(waitFor([&] { return card.playedFrames() > 0; }, 5));
    sleepMs(50);  // the card's output read to its end
    const uint64_t before = card.playedFrames();
    ASSERT_EQ(2048, write(tone.substr(0, 2048 * kFrameBytes)));
    ASSERT_EQ(0, snd_pcm_reset(pcm));
    ASSERT_TRUE(waitFor([&] { return snd_pcm_avail(pcm) == -EPIPE; }, 5)) << "running with nothing queued";
    sleepMs(100);
    EXPECT_LT(card.playedFrames() - before, 2048u);
}

} // namespace
