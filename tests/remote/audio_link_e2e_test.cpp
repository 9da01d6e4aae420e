// Remote audio between two controllers, each on its own simulated unit: a tone captured on
// the server unit comes out of the client unit's playback device, every block of it.
#include "audio_test_util.h"
#include "controller_process.h"
#include "hamlib_test_util.h"
#include "platform/clock.h"
#include "sim_unit.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

void writeSetup(sim::SimUnit& unit, const std::string& lines)
{
    std::filesystem::create_directories(unit.path("opt/set"));
    // The shortest playback buffer a USB card takes (2 periods, 43 ms): it never holds the
    // 100 ms at which the queue would be dropped, so whatever the machine's load every
    // received block is played (a late block makes the card underrun and wait, a burst makes
    // the writer wait).
    std::ofstream(unit.path("opt/set/setup.txt"))
        << lines << "EnableRead: 1\nEnableWrite: 1\nEnableKeyb: 0\nAudioCompress: 64000\nAudioBuffers: 2\n";
}

// Mono 16-bit little-endian samples: `before` frames of silence, `frames` of a 1 kHz tone,
// `after` of silence.
std::string toneBurst(size_t before, size_t frames, size_t after)
{
    std::string out((before + frames + after) * 2, '\0');
    for (size_t f = 0; f < frames; f++) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(10000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(f) / 48000))));
        out[2 * (before + f)] = static_cast<char>(v & 0xff);
        out[2 * (before + f) + 1] = static_cast<char>(v >> 8);
    }
    return out;
}

TEST(RemoteAudioLinkE2E, ToneCapturedOnTheServerUnitPlaysOnTheClientUnit)
{
    const int port = hamlibtest::freePort();
    ASSERT_GT(port, 0);
    sim::SimUnit server(freshTempDir("e2e-audio-server"));
    sim::SimUnit client(freshTempDir("e2e-audio-client"));
    writeSetup(server, "WebSocket: 1\nTcpPort: " + std::to_string(port) + "\n");
    writeSetup(client, "WebSocket: 2\nServer: 127.0.0.1\nTcpPort: " + std::to_string(port) + "\n");

    sim::ControllerProcess serverCtl(AMPCTL_BIN, server.root(), AMPCTL_BUILD_DIR "/pictures");
    sim::ControllerProcess clientCtl(AMPCTL_BIN, client.root(), AMPCTL_BUILD_DIR "/pictures");
    sim::SoundCard& played = *client.soundCard();
    // Start-up, the remote group, the playback thread's start and the connection: a second
    // of the server's silence played.
    const double end = monoSeconds() + 90;
    while (played.playedFrames() < 48000 && monoSeconds() < end)
        sleepMs(100);
    ASSERT_GE(played.playedFrames(), 48000u) << serverCtl.stderrText() << clientCtl.stderrText();

    // Then the server records exactly three seconds of 1 kHz between silences; the client
    // plays them all, in time with the card's clock (however late they come).
    const size_t toneFrames = 3 * 48000;
    const std::string burst = server.path("sim/burst.raw");
    writeFile(burst, toneBurst(24000, toneFrames, 20 * 48000));
    const uint64_t overrunsBefore = server.soundCard()->overrunFrames();
    const uint64_t framesBefore = played.playedFrames();
    ASSERT_TRUE(server.soundCard()->setCaptureFile(burst));
    const double until = monoSeconds() + 60;
    while (played.playedFrames() < framesBefore + toneFrames + 96000 && monoSeconds() < until)
        sleepMs(100);
    ASSERT_GE(played.playedFrames(), framesBefore + toneFrames + 96000);
    EXPECT_EQ(overrunsBefore, server.soundCard()->overrunFrames()) << "the server read every captured block";

    const std::vector<int16_t> left = audiotest::channel(readFile(played.playbackPath()), 2, 0, framesBefore);
    size_t first = 0;
    while (first < left.size() && std::abs(left[first]) < 3000)
        ++first;
    size_t last = left.size();
    while (last > first && std::abs(left[last - 1]) < 3000)
        --last;
    ASSERT_LT(first, last) << "the tone reached the client";
    // Every block of it, each once: a block lost or played twice is 240 frames.
    EXPECT_NEAR(static_cast<double>(toneFrames), static_cast<double>(last - first), 96.0);
    // After its first second: 1 kHz, and no gap.
    const std::vector<int16_t> tone(left.begin() + static_cast<long>(first + 48000), left.begin() + static_cast<long>(last));
    EXPECT_NEAR(1000.0, audiotest::toneHz(tone), 2.0);
    EXPECT_EQ(0u, audiotest::longestQuiet(tone, 3000)) << "no quiet stretch of 1 ms or more";

    serverCtl.terminate();
    clientCtl.terminate();
    EXPECT_EQ(0, serverCtl.waitExit(30));
    EXPECT_EQ(0, clientCtl.waitExit(30));
    server.stop();
    client.stop();
    std::filesystem::remove_all(server.root());
    std::filesystem::remove_all(client.root());
}

} // namespace
