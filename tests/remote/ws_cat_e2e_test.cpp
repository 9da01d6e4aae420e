// CAT and the transceiver's parameters across the remote link, end to end: the real ampctl
// with its CAT relay on a simulated unit, the test library's peer on the loopback, and the
// bytes the simulated CAT port read and wrote (its log); then a server and a client unit,
// the client following the server's transceiver on its own board and screen, and CAT
// answers going from one unit's port to the other's.
#include "display/text.h"
#include "remote/ws_peer.h"
#include "remote/ws_units.h"
#include "support/files.h"
#include "support/panel_match.h"
#include "support/screenshot.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Bytes that crossed the CAT port after entry `from` in one direction, joined, and the
// number of reads or writes they took.
struct CatTraffic {
    std::string bytes;
    size_t pieces = 0;
};

CatTraffic catTraffic(const std::vector<sim::WireEntry>& log, size_t from, bool toPort)
{
    CatTraffic t;
    for (size_t i = from; i < log.size(); ++i) {
        if (log[i].toBoard != toPort)
            continue;
        t.bytes += log[i].frame;
        ++t.pieces;
    }
    return t;
}

// Waits until the bytes that crossed the port after `from` in one direction hold `text`.
bool waitForCat(const sim::WireLog& log, size_t from, bool toPort, const std::string& text, double seconds)
{
    return log.waitFor(
        [&](const std::vector<sim::WireEntry>& entries) {
            return catTraffic(entries, from, toPort).bytes.find(text) != std::string::npos;
        },
        seconds);
}

// The status page's frequency line (baseline 176 in the page's 20-pixel font, slot 8): the
// frequency the unit follows and, in brackets, the one in the transceiver's record.
bool waitForFrequencyLine(wstest::WsUnit& u, const std::string& text, double seconds)
{
    return waitForPanelMatch(
        u.unit.framebufferPath(), u.unit.root(),
        [&](FrameBuffer* fb) {
            drawScreenPicture(fb, "status");
            putString(8, 5, 176, "FREQUENCY", 255, 255, 255, fb, 0);
            drawFittedText(fb, 8, 6, 180, 180, 176, text.c_str(), 255, 255, 255);
        },
        0, 159, 799, 181, seconds);
}

using wstest::TWO_BANDS_IXO;

} // namespace

TEST(WsCatE2E, PeerCommandsReachTheCatPortAndItsAnswersComeBackWhole)
{
    wstest::ServerUnit server("ws-cat", true, "EnableCAT: 1\n");
    sim::ControllerProcess& ctl = server.ctl;
    const sim::WireLog& cat = server.u.unit.transceivers()->catLog();
    ASSERT_TRUE(server.listening()) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("OK works->catFD=", 60)) << ctl.stderrText();
    // The relay found the port by its identity. The simulated port logs its answer once the
    // write is done, which may be after the controller has read it and said so.
    ASSERT_TRUE(waitForCat(cat, 0, false, "DT001;", 5));
    EXPECT_EQ("DT;", catTraffic(cat.entries(), 0, true).bytes);
    EXPECT_EQ("DT001;", catTraffic(cat.entries(), 0, false).bytes);

    // The port's answers: "FA;" in one write of 14 characters, "IF;" in three writes 50 ms
    // apart.
    ASSERT_EQ("", server.u.control("cat echo off"));
    ASSERT_EQ("", server.u.control("cat reply FA FA00014070000;"));
    ASSERT_EQ("", server.u.control("cat reply IF IF00014 070000 +0020;"));

    wstest::Peer peer(server.port);
    ASSERT_TRUE(peer.login(wstest::PASSWORD));
    ASSERT_TRUE(ctl.waitForStderr("Receiving data", 5));

    // "CA" FA; reaches the port as exactly those bytes; the answer comes back as one "CA"
    // of 14 data bytes: 82 10 'C' 'A' FA00014070000;
    size_t mark = cat.size();
    ASSERT_TRUE(peer.send(wstest::shortFrame("CA", "FA;")));
    EXPECT_TRUE(waitForCat(cat, mark, true, "FA;", 10)) << ctl.stderrText();
    std::optional<wstest::Frame> answer = peer.readTagged("CA", 10);
    ASSERT_TRUE(answer.has_value()) << ctl.stderrText();
    EXPECT_EQ("\x82\x10" "CAFA00014070000;"s, answer->raw);
    EXPECT_EQ(14u, answer->data.size());
    EXPECT_EQ("FA;", catTraffic(cat.entries(), mark, true).bytes);

    // The answer written in three pieces comes back joined, in one "CA".
    mark = cat.size();
    ASSERT_TRUE(peer.send(wstest::shortFrame("CA", "IF;")));
    ASSERT_TRUE(waitForCat(cat, mark, false, "+0020;", 10));
    const CatTraffic written = catTraffic(cat.entries(), mark, false);
    EXPECT_EQ("IF00014070000+0020;", written.bytes);
    // Three writes at least: a full line buffer can cut a write in two.
    EXPECT_GE(written.pieces, 3u);
    answer = peer.readTagged("CA", 10);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ("\x82\x15" "CAIF00014070000+0020;"s, answer->raw);

    // Two commands in one message: both reach the port, each answer comes back on its own.
    mark = cat.size();
    ASSERT_TRUE(peer.send(wstest::shortFrame("CA", "FA;IF;")));
    EXPECT_TRUE(waitForCat(cat, mark, true, "FA;IF;", 10));
    answer = peer.readTagged("CA", 10);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ("FA00014070000;", answer->data);
    answer = peer.readTagged("CA", 10);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ("IF00014070000+0020;", answer->data);
    EXPECT_FALSE(peer.closedByUnit(0.5));
    server.stop();
    EXPECT_EQ("", ctl.sanitizerReports());
}

TEST(WsClientE2E, ClientFollowsTheServersTransceiverAndCatCrossesBothUnits)
{
    // Both units take the frequency from the maker's transceiver (interface mode 1); only
    // the server has one on its serial line, the client's record is filled from the
    // server's parameter frames alone. No drive, so the screen follows the transceiver.
    wstest::ServerAndClient pair("ws-cat-mirror", "EnableCAT: 1\n", TWO_BANDS_IXO);
    pair.client.unit.transceivers()->setConnected(sim::SerialTransceiver::None);
    pair.server.physics.setDrivePower(0);
    pair.client.physics.setDrivePower(0);
    // The server's CAT port answers "FA;" in three writes; neither port echoes.
    ASSERT_EQ("", pair.server.control("cat echo off"));
    ASSERT_EQ("", pair.client.control("cat echo off"));
    ASSERT_EQ("", pair.server.control("trx freq A 14070000"));
    pair.start();
    sim::ControllerProcess& ctlServer = *pair.ctlServer;
    sim::ControllerProcess& ctlClient = *pair.ctlClient;
    ASSERT_TRUE(ctlClient.waitForStderr("Websocket Connected", 60)) << ctlClient.stderrText();

    // The server forwards its transceiver's parameter frames; the client decodes them into
    // its own record and sends its board the frequency of the server's transceiver.
    sim::SimUnit& clientUnit = pair.client.unit;
    EXPECT_TRUE(clientUnit.waitForFrame("FA00014070000;", true, 30, 1, true)) << ctlClient.stderrText();

    // The status page (a long press of key 6) shows the frequency of the client's record.
    ASSERT_TRUE(ctlClient.waitForStderr("Timer thread started", 40));
    ASSERT_TRUE(clientUnit.pressButton(6, 900));
    ASSERT_TRUE(ctlClient.waitForStderr("key 6 (long) on bar 0", 10)) << ctlClient.stderrText();
    EXPECT_TRUE(waitForFrequencyLine(pair.client, "14070000Hz(14070000)", 20));
    saveScreenshot(clientUnit.framebufferPath(), "ws_client_status_14070000");

    // The server's transceiver moves to 7.1 MHz: the client's board and screen follow.
    const size_t mark = clientUnit.wireLog().size();
    ASSERT_EQ("", pair.server.control("trx freq A 7100000"));
    EXPECT_TRUE(clientUnit.waitForFrames(
        [&](const auto& log) {
            const auto sent = hostTexts(log, mark);
            return std::find(sent.begin(), sent.end(), "FA00007100000;") != sent.end();
        },
        30))
        << ctlClient.stderrText();
    EXPECT_TRUE(waitForFrequencyLine(pair.client, "7100000Hz(7100000)", 20));
    saveScreenshot(clientUnit.framebufferPath(), "ws_client_status_7100000");

    // CAT: the client unit's port asks "FA;" unasked; the client relays it to the server,
    // which writes it to its port; the port's answer, in three writes, comes back joined
    // and is written whole into the client unit's port.
    ASSERT_EQ("", pair.server.control("cat reply FA FA000 07100 000;"));
    const sim::WireLog& serverCat = pair.server.unit.transceivers()->catLog();
    const sim::WireLog& clientCat = clientUnit.transceivers()->catLog();
    ASSERT_TRUE(ctlServer.waitForStderr("OK works->catFD=", 60)) << ctlServer.stderrText();
    ASSERT_TRUE(ctlClient.waitForStderr("OK works->catFD=", 60)) << ctlClient.stderrText();
    const size_t serverMark = serverCat.size();
    const size_t clientMark = clientCat.size();
    ASSERT_EQ("", pair.client.control("cat send FA;"));
    EXPECT_TRUE(waitForCat(serverCat, serverMark, true, "FA;", 15)) << ctlServer.stderrText();
    EXPECT_TRUE(waitForCat(clientCat, clientMark, true, "FA00007100000;", 15)) << ctlClient.stderrText();
    EXPECT_EQ("FA;", catTraffic(serverCat.entries(), serverMark, true).bytes);
    const CatTraffic fromServerPort = catTraffic(serverCat.entries(), serverMark, false);
    EXPECT_EQ("FA00007100000;", fromServerPort.bytes);
    EXPECT_GE(fromServerPort.pieces, 3u);
    EXPECT_EQ("FA00007100000;", catTraffic(clientCat.entries(), clientMark, true).bytes);

    // The other way: what the server unit's port says unasked reaches the client's port.
    const size_t clientMark2 = clientCat.size();
    ASSERT_EQ("", pair.server.control("cat send IF000 07100000 +0020;"));
    EXPECT_TRUE(waitForCat(clientCat, clientMark2, true, "IF00007100000+0020;", 15)) << ctlClient.stderrText();
}
