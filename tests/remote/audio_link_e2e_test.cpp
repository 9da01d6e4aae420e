// Remote audio between two controllers, each on its own simulated unit: a tone captured on
// the server unit comes out of the client unit's playback device.
#include "audio_test_util.h"
#include "controller_process.h"
#include "hamlib_test_util.h"
#include "platform/clock.h"
#include "sim_unit.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

void writeSetup(sim::SimUnit& unit, const std::string& lines)
{
    std::filesystem::create_directories(unit.path("opt/set"));
    std::ofstream(unit.path("opt/set/setup.txt"))
        << lines << "EnableRead: 1\nEnableWrite: 1\nEnableKeyb: 0\nAudioCompress: 64000\n";
}

TEST(RemoteAudioLinkE2E, ToneCapturedOnTheServerUnitPlaysOnTheClientUnit)
{
    const int port = hamlibtest::freePort();
    ASSERT_GT(port, 0);
    sim::SimUnit server(freshTempDir("e2e-audio-server"));
    sim::SimUnit client(freshTempDir("e2e-audio-client"));
    writeSetup(server, "WebSocket: 1\nTcpPort: " + std::to_string(port) + "\n");
    writeSetup(client, "WebSocket: 2\nServer: 127.0.0.1\nTcpPort: " + std::to_string(port) + "\n");
    server.soundCard()->setTone(1000, 10000);

    sim::ControllerProcess serverCtl(AMPCTL_BIN, server.root(), AMPCTL_BUILD_DIR "/pictures");
    sim::ControllerProcess clientCtl(AMPCTL_BIN, client.root(), AMPCTL_BUILD_DIR "/pictures");
    sim::SoundCard& played = *client.soundCard();
    // Start-up, the remote group, the playback thread's start and the connection.
    const double end = monoSeconds() + 90;
    while (played.playedFrames() < 48000 && monoSeconds() < end)
        sleepMs(100);
    ASSERT_GE(played.playedFrames(), 48000u) << serverCtl.stderrText() << clientCtl.stderrText();

    // Three seconds more, watched: the client plays at the rate the server captures.
    const uint64_t overrunsBefore = server.soundCard()->overrunFrames();
    const uint64_t framesBefore = played.playedFrames();
    const double from = monoSeconds();
    sleepMs(3000);
    const double seconds = monoSeconds() - from;
    const double rate = static_cast<double>(played.playedFrames() - framesBefore) / seconds;
    EXPECT_NEAR(48000.0, rate, 4800.0) << "frames per second reaching the client's playback";
    EXPECT_EQ(overrunsBefore, server.soundCard()->overrunFrames()) << "the server read every captured block";

    const std::vector<int16_t> left = audiotest::channel(readFile(played.playbackPath()), 2, 0);
    size_t start = 0;
    while (start < left.size() && std::abs(left[start]) < 1000)
        ++start;
    ASSERT_GT(left.size(), start + 48000 + 96000) << "at least three seconds of the tone";
    // After the first second of the tone: 1 kHz, and no gap.
    const std::vector<int16_t> tone(left.begin() + static_cast<long>(start + 48000), left.end());
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
