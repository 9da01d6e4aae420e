// Two real ampctl units connected as they leave the factory: raw audio both ways at the
// default Multiplier, the server's transceiver streaming parameters and spectrum lines. The
// connection stays up, the audio plays on both units, and in steady state each unit's log
// holds only events (no line per frame).
#include "platform/clock.h"
#include "remote/ws_units.h"
#include "sound_card.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

size_t lines(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

size_t occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(WsLinkE2E, DefaultUnitsStayConnectedWithRawAudioBothWaysAndLogOnlyEvents)
{
    // The audio settings as a new unit has them: raw samples, 480-frame blocks (a 1930-byte
    // "SO" frame each); capture and playback on.
    // Both units follow the maker's transceiver; the server's streams on its serial link,
    // the client's record is filled from the server's parameter frames.
    wstest::ServerAndClient pair("ws-link", "AudioCompress: 0\nMultiplier: 2\nEnableRead: 1\nEnableWrite: 1\n",
                                 wstest::TWO_BANDS_IXO);
    pair.client.unit.transceivers()->setConnected(sim::SerialTransceiver::None);
    // No drive, so each unit follows the transceiver's frequency (not held by transmitting).
    pair.server.physics.setDrivePower(0);
    pair.client.physics.setDrivePower(0);
    ASSERT_EQ("", pair.server.control("trx freq A 14070000"));
    pair.start();
    sim::ControllerProcess& server = *pair.ctlServer;
    sim::ControllerProcess& client = *pair.ctlClient;
    ASSERT_TRUE(client.waitForStderr("Websocket Connected", 60)) << client.stderrText();
    ASSERT_TRUE(server.waitForStderr("password accepted", 10)) << server.stderrText();

    // Each unit plays a second of the other's audio (the connection has settled then).
    sim::SoundCard& serverCard = *pair.server.unit.soundCard();
    sim::SoundCard& clientCard = *pair.client.unit.soundCard();
    const double settle = monoSeconds() + 90;
    while ((serverCard.playedFrames() < 48000 || clientCard.playedFrames() < 48000) && monoSeconds() < settle)
        sleepMs(100);
    ASSERT_GE(serverCard.playedFrames(), 48000u) << server.stderrText();
    ASSERT_GE(clientCard.playedFrames(), 48000u) << client.stderrText();
    // The transceivers stream meanwhile: the client's board follows the server's frequency.
    EXPECT_TRUE(pair.client.unit.waitForFrame("FA00014070000;", true, 30, 1, true)) << client.stderrText();

    // The client's USB receiver starts its stream once it has the server's settings: a slow
    // machine gets there late, and its start-up lines are not the steady state.
    ASSERT_TRUE(client.waitForStderr("SYN transfer starting", 60)) << client.stderrText();
    // Steady state for 10 s.
    const std::string serverBefore = server.stderrText();
    const std::string clientBefore = client.stderrText();
    const uint64_t serverPlayed = serverCard.playedFrames();
    const uint64_t clientPlayed = clientCard.playedFrames();
    const double window = 10;
    sleepMs(static_cast<int>(window * 1000));
    const std::string serverWindow = server.stderrText().substr(serverBefore.size());
    const std::string clientWindow = client.stderrText().substr(clientBefore.size());

    // One connection all along: no reconnection, no new login.
    EXPECT_EQ(0u, occurrences(clientWindow, "reconnecting")) << clientWindow;
    EXPECT_EQ(1u, occurrences(client.stderrText(), "Websocket Connected"));
    EXPECT_EQ(1u, occurrences(server.stderrText(), "password accepted"));
    // Audio kept coming both ways (at least half of real time, whatever the load).
    EXPECT_GE(serverCard.playedFrames() - serverPlayed, static_cast<uint64_t>(48000 * window / 2));
    EXPECT_GE(clientCard.playedFrames() - clientPlayed, static_cast<uint64_t>(48000 * window / 2));
    // Fewer than one log line a second on each unit: no line per frame.
    std::printf("log lines in %.0f s: server %zu, client %zu\n", window, lines(serverWindow), lines(clientWindow));
    EXPECT_LT(lines(serverWindow), static_cast<size_t>(window)) << serverWindow;
    EXPECT_LT(lines(clientWindow), static_cast<size_t>(window)) << clientWindow;

    // The events are still logged: the server goes, the client says so and retries.
    server.kill();
    server.waitExit(10);
    EXPECT_TRUE(client.waitForStderr("reconnecting", 15)) << client.stderrText();
    EXPECT_TRUE(client.waitForStderr("Connect Error", 15));
    pair.ctlServer.reset();
}

} // namespace
