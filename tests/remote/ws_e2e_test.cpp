// The real ampctl on the simulated unit, reached by the test library's remote peer over the
// loopback: handshake and password, status frames from the board's readings, the bank
// command (setup file and wire), a picture on the panel, nothing before the password,
// 1,000 malformed connections with flat memory and descriptors, what a standard WebSocket
// client gets, and two controllers (server and client) with the client reconnecting.
#include "display/snapshot.h"
#include "remote/ws_peer.h"
#include "remote/ws_units.h"
#include "support/files.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <turbojpeg.h>

using namespace std::string_literals;

namespace {

using wstest::PASSWORD;
using wstest::ServerUnit;
using wstest::WsUnit;

long procField(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(field))
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

size_t openDescriptors(pid_t pid)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        ++n;
    return n;
}

// The settled count of descriptors: other threads open files now and then (settings, logs,
// helper pipes), which only ever adds to a reading, so the least of a second's readings.
size_t settledDescriptors(pid_t pid)
{
    size_t least = openDescriptors(pid);
    for (int i = 0; i < 10; ++i) {
        sleepMs(100);
        least = std::min(least, openDescriptors(pid));
    }
    return least;
}

// Pixels of the panel file within 8 of the colour.
size_t pixelsNear(const std::string& panel, unsigned char r, unsigned char g, unsigned char b)
{
    size_t n = 0;
    for (size_t i = 0; i + 3 < panel.size(); i += 4)
        n += std::abs(panel[i] - static_cast<char>(b)) < 8 && std::abs(static_cast<unsigned char>(panel[i + 1]) - g) < 8 &&
             std::abs(static_cast<unsigned char>(panel[i + 2]) - r) < 8 && std::abs(static_cast<unsigned char>(panel[i]) - b) < 8;
    return n;
}

void sendPicture(wstest::Peer& peer, const std::string& jpeg)
{
    for (size_t p = 0; p < jpeg.size(); p += 512)
        peer.send(wstest::pictureChunk(static_cast<uint32_t>(jpeg.size()), static_cast<uint32_t>(p), jpeg.substr(p, 512)));
}

std::string savePanel(const sim::SimUnit& unit, const std::string& name)
{
    const std::string panel = readFile(const_cast<sim::SimUnit&>(unit).framebufferPath());
    const std::string dir = AMPCTL_BUILD_DIR "/test-output/remote";
    std::filesystem::create_directories(dir);
    writeScreenPng(reinterpret_cast<const unsigned char*>(panel.data()), 800, 480, 800 * 4, 4, (dir + "/" + name).c_str());
    return panel;
}

} // namespace

TEST(WsServerE2E, PasswordStatusFramesAndBankCommand)
{
    ServerUnit server("ws-e2e-status");
    ASSERT_TRUE(server.listening()) << server.ctl.stderrText();
    const int port = server.port;
    WsUnit& u = server.u;
    sim::ControllerProcess& ctl = server.ctl;

    // One wrong character: the connection is dropped and no status frame is ever sent.
    {
        wstest::Peer peer(port);
        ASSERT_TRUE(peer.ok());
        const std::string answer = peer.handshake("x3JJHMbDL1EzLkh9GBhXDw==");
        EXPECT_NE(std::string::npos, answer.find("Sec-WebSocket-Accept: " + wstest::acceptFor("x3JJHMbDL1EzLkh9GBhXDw==") + "\r\n"))
            << answer;
        peer.send("\x81\x0c\0\0\0\0quintabrezzo"s);
        EXPECT_FALSE(peer.readFrame(2).has_value());
        EXPECT_TRUE(peer.closedByUnit(5));
        EXPECT_TRUE(ctl.waitForStderr("wrong password (12 characters): connection ended", 5)) << ctl.stderrText();
    }
    // The log names the attempt, never a password (neither the expected one nor the one
    // sent), and says once that the default password is in use.
    EXPECT_EQ(std::string::npos, ctl.stderrText().find("quintabrezz")) << ctl.stderrText();
    const std::string notice = "remote access uses the default password";
    const std::string early = ctl.stderrText();
    ASSERT_NE(std::string::npos, early.find(notice));
    EXPECT_EQ(early.find(notice), early.rfind(notice));

    // The password frame 81 0C 00 00 00 00 and the 12 characters: status frames follow, 44
    // bytes of the board's readings: band, SWR 2, about 100 W out, 10 W in, bank 0.
    wstest::Peer peer(port);
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.login(PASSWORD));
    std::optional<wstest::Frame> st;
    const double end = monoSeconds() + 20;
    while (monoSeconds() < end) {
        st = peer.readTagged("ST", 5);
        ASSERT_TRUE(st.has_value()) << ctl.stderrText();
        if (std::fabs(std::atof(st->data.substr(10, 6).c_str()) - 2.0) < 0.05)
            break;
    }
    ASSERT_EQ(44u, st->data.size()) << st->data;
    EXPECT_EQ("00", st->data.substr(42, 2)) << "no error listed, then the first of the zeros: " << st->data;
    EXPECT_EQ("20m ", st->data.substr(0, 4));
    EXPECT_NEAR(2.0, std::atof(st->data.substr(10, 6).c_str()), 0.05) << st->data;
    EXPECT_NEAR(100, std::atof(st->data.substr(16, 6).c_str()), 3) << st->data;
    EXPECT_NEAR(10, std::atof(st->data.substr(22, 6).c_str()), 1) << st->data;
    EXPECT_EQ("00", st->data.substr(40, 2)) << st->data;
    // They keep coming, one per screen frame.
    int frames = 0;
    const double t0 = monoSeconds();
    while (monoSeconds() - t0 < 3 && peer.readTagged("ST", 2))
        ++frames;
    EXPECT_GE(frames, 10) << "status frames in 3 s";

    // "ZOLTBANK": the next bank, saved in the setup file, its 20 m row's antenna on the wire.
    const size_t mark = u.unit.wireLog().size();
    ASSERT_TRUE(peer.send(wstest::shortFrame("ST", "ZOLTBANK")));
    EXPECT_TRUE(ctl.waitForStderr("ChangeBanco\n", 5));
    EXPECT_TRUE(u.unit.waitForFrames(
        [&](const auto& log) {
            const auto sent = hostTexts(log, mark);
            return std::find(sent.begin(), sent.end(), "SA2;") != sent.end();
        },
        15))
        << ctl.stderrText();
    EXPECT_NE(std::string::npos, readFile(u.unit.path("opt/set/setup.txt")).find("NumBanco: 1\n"));
    // The status text carries the new bank.
    bool bankShown = false;
    for (int i = 0; i < 100 && !bankShown; ++i) {
        st = peer.readTagged("ST", 2);
        bankShown = st && st->data.substr(40, 2) == "01";
    }
    EXPECT_TRUE(bankShown);

    server.stop();
}

TEST(WsServerE2E, NothingBeforeThePasswordThenAPictureOnThePanel)
{
    // The screen loop off, so a picture stays on the panel until the next one.
    ServerUnit server("ws-e2e-picture", false);
    ASSERT_TRUE(server.listening()) << server.ctl.stderrText();
    const int port = server.port;
    WsUnit& u = server.u;
    sim::ControllerProcess& ctl = server.ctl;
    const std::string jpeg = wstest::jpegOf(800, 480, 230, 20, 200);
    sleepMs(1500);
    const std::string setupBefore = readFile(u.unit.path("opt/set/setup.txt"));
    const std::string panelBefore = readFile(u.unit.framebufferPath());
    const size_t logBefore = u.unit.wireLog().size();

    // Every message kind before the password: the unit ends the connection and nothing
    // happens (no command run, no write to a port, no picture, no bank change).
    const std::vector<std::string> early = {
        wstest::shortFrame("ST", "ZOLTBANK"), wstest::shortFrame("ST", "ZOLTRB"), wstest::shortFrame("CA", "FA;"),
        wstest::shortFrame("SC", "RX;"),      wstest::shortFrame("PA", "P0"),     wstest::longFrame("SP", "x"),
        wstest::longFrame("SO", wstest::be32(2) + "ab"), "\x88\x02\x03\xe8"s,
        wstest::pictureChunk(static_cast<uint32_t>(jpeg.size()), 0, jpeg.substr(0, 512))};
    for (const std::string& m : early) {
        wstest::Peer peer(port);
        ASSERT_TRUE(peer.ok());
        ASSERT_NE("", peer.handshake("dGhlIHNhbXBsZSBub25jZQ=="));
        peer.send(m);
        EXPECT_TRUE(peer.closedByUnit(5)) << m.substr(0, 4);
    }
    EXPECT_TRUE(ctl.waitForStderr("before the password: connection ended", 1, early.size())) << ctl.stderrText();
    const std::string err = ctl.stderrText();
    EXPECT_EQ(std::string::npos, err.find("BUFFER Wsocket")) << err;
    EXPECT_EQ(std::string::npos, err.find("ChangeBanco"));
    EXPECT_EQ(std::string::npos, err.find("S BUFFER WEB SERVER"));
    EXPECT_EQ(setupBefore, readFile(u.unit.path("opt/set/setup.txt")));
    EXPECT_EQ(panelBefore, savePanel(u.unit, "before-password.png"));
    const auto log = u.unit.wireLog();
    for (const std::string& t : hostTexts(log, logBefore))
        EXPECT_FALSE(t.starts_with("SA")) << "antenna command " << t;

    // With the password, the picture's chunks show it on the panel.
    wstest::Peer peer(port);
    ASSERT_TRUE(peer.login(PASSWORD));
    ASSERT_TRUE(ctl.waitForStderr("Receiving data", 5));
    sendPicture(peer, jpeg);
    std::string panel;
    for (int i = 0; i < 50; ++i) {
        sleepMs(100);
        panel = readFile(u.unit.framebufferPath());
        if (pixelsNear(panel, 230, 20, 200) > 800 * 480 * 9 / 10)
            break;
    }
    savePanel(u.unit, "picture.png");
    EXPECT_GT(pixelsNear(panel, 230, 20, 200), 800u * 480 * 9 / 10);
    // A JPEG of another size is refused, the panel keeps the picture and the connection stays.
    sendPicture(peer, wstest::jpegOf(320, 240, 0, 0, 0));
    EXPECT_TRUE(ctl.waitForStderr("picture of 320x240 refused: the screen is 800x480", 5));
    EXPECT_EQ(panel, readFile(u.unit.framebufferPath()));
    EXPECT_FALSE(peer.closedByUnit(0.5));
    server.stop();
}

TEST(WsServerE2E, ThousandMalformedPeersLeaveMemoryAndDescriptorsFlat)
{
    ServerUnit server("ws-e2e-malformed");
    ASSERT_TRUE(server.listening()) << server.ctl.stderrText();
    const int port = server.port;
    WsUnit& u = server.u;
    sim::ControllerProcess& ctl = server.ctl;

    const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
    const std::string hs = wstest::request(key);
    // Each attempt: a malformed request or frame; the unit ends the connection at once.
    const std::vector<std::string> attempts = {
        "Sec-WebSocket-Key: " + std::string(300, 'k') + "\r\n",                // key past its slot
        std::string(20000, 'G'),                                                  // endless request
        hs + "\x82\x7e\xff\xff" + std::string(64, 'x'),                           // 16-bit length past the buffer
        hs + "\x82\x7f\x7f\xff\xff\xff",                                           // 32-bit length
        hs + "\x82\x01xy",                                                         // no tag
        hs + "\x81\x7e\x00\x10" + std::string(16, 'p'),                           // long-form text
        hs + wstest::textFrame("quintabrezzx"),                                   // wrong password
        hs + wstest::shortFrame("ST", "ZOLTBANK"),                                 // before the password
        hs + "\x81\x0c\0\0\0\0quintabrezza"s + wstest::pictureChunk(100, 900, "x"), // offset past total
        hs + wstest::textFrame(PASSWORD) + wstest::longFrame("SO", wstest::be32(1000) + "ab"), // audio past the frame
    };
    auto round = [&](int count) {
        for (int i = 0; i < count; ++i) {
            wstest::Peer peer(port, 5);
            ASSERT_TRUE(peer.ok());
            peer.send(attempts[static_cast<size_t>(i) % attempts.size()]);
            ASSERT_TRUE(peer.closedByUnit(5)) << i;
        }
    };
    round(100);
    const long rssBefore = procField(ctl.pid(), "VmRSS:");
    const size_t fdsBefore = settledDescriptors(ctl.pid());
    round(1000);
    const long rssAfter = procField(ctl.pid(), "VmRSS:");
    // Only growth fails: a descriptor left open per connection would show as hundreds.
    const size_t fdsAfter = settledDescriptors(ctl.pid());
    std::printf("malformed peers: RSS %ld kB -> %ld kB, descriptors %zu -> %zu\n", rssBefore, rssAfter, fdsBefore, fdsAfter);
    EXPECT_LE(fdsAfter, fdsBefore);
    EXPECT_LT(rssAfter - rssBefore, 8 * 1024) << "kB grown over 1,000 connections";
    EXPECT_NE(std::string::npos, readFile(u.unit.path("opt/set/setup.txt")).find("NumBanco: 0\n"));

    // The next good peer is served.
    EXPECT_TRUE(server.servesGoodPeer());
    server.stop();
}

// Peers that have not logged in: a flood of request lines logs a summary, not a line each;
// stalled and half-open connections keep no real peer out; and while one peer is logged in
// another with the password is turned away.
TEST(WsServerE2E, StalledPeersNeitherKeepARealPeerOutNorFloodTheLog)
{
    ServerUnit server("ws-e2e-stalled");
    ASSERT_TRUE(server.listening()) << server.ctl.stderrText();
    sim::ControllerProcess& ctl = server.ctl;
    const auto linesSince = [&](size_t mark) {
        const std::string text = ctl.stderrText().substr(mark);
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    };

    // Three peers send 16 KB of short header lines each (over 5,000 lines) and no more.
    size_t mark = ctl.stderrText().size();
    for (int i = 0; i < 3; ++i) {
        wstest::Peer flood(server.port, 5);
        ASSERT_TRUE(flood.ok());
        std::string lines;
        while (lines.size() < 16000)
            lines += "a\r\n";
        flood.send(lines);
        EXPECT_TRUE(flood.closedByUnit(10)) << i;
    }
    EXPECT_TRUE(ctl.waitForStderr("request from 127.0.0.1 refused", 5, 3)) << ctl.stderrText().substr(mark);
    EXPECT_LT(linesSince(mark), 60u) << ctl.stderrText().substr(mark);

    // Forty connections that stall: half say nothing, half stop in the middle of a request.
    mark = ctl.stderrText().size();
    std::vector<std::unique_ptr<wstest::Peer>> stalled;
    for (int i = 0; i < 40; ++i) {
        stalled.push_back(std::make_unique<wstest::Peer>(server.port, 5));
        ASSERT_TRUE(stalled.back()->ok());
        if (i % 2)
            stalled.back()->send("GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    }
    // A real peer behind them logs in and is served.
    wstest::Peer good(server.port, 15);
    ASSERT_TRUE(good.ok());
    ASSERT_TRUE(good.login(PASSWORD)) << ctl.stderrText().substr(mark);
    ASSERT_TRUE(good.readTagged("ST", 15).has_value()) << ctl.stderrText().substr(mark);

    // One peer at a time: a second one with the password is turned away, the first stays.
    wstest::Peer second(server.port, 15);
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(second.login(PASSWORD));
    EXPECT_TRUE(second.closedByUnit(10));
    EXPECT_TRUE(ctl.waitForStderr("another peer is logged in", 5));
    EXPECT_TRUE(good.readTagged("ST", 5).has_value());
    // A handful of lines per connection, however it ended.
    EXPECT_LT(linesSince(mark), 42u * 8) << ctl.stderrText().substr(mark);
    stalled.clear();
    EXPECT_TRUE(good.readTagged("ST", 5).has_value());
    server.stop();
}

// A peer has about 2 s from its connection to its password: one that says nothing and one
// that stops after the handshake are both dropped then (served side by side), not later.
TEST(WsServerE2E, SilentPeersAreDroppedAtTheLoginWindow)
{
    ServerUnit server("ws-e2e-window");
    ASSERT_TRUE(server.listening()) << server.ctl.stderrText();
    wstest::Peer silent(server.port);
    const double silentSince = monoSeconds();
    wstest::Peer noPassword(server.port);
    ASSERT_TRUE(silent.ok());
    ASSERT_TRUE(noPassword.ok());
    ASSERT_NE("", noPassword.handshake("dGhlIHNhbXBsZSBub25jZQ=="));
    const double handshakeSince = monoSeconds();
    // Never before the window; well before the 10 s a peer had once.
    EXPECT_FALSE(silent.closedByUnit(1.0)) << "dropped before its window";
    EXPECT_TRUE(silent.closedByUnit(7 - (monoSeconds() - silentSince))) << server.ctl.stderrText();
    EXPECT_TRUE(noPassword.closedByUnit(7 - (monoSeconds() - handshakeSince))) << server.ctl.stderrText();
    EXPECT_TRUE(server.ctl.waitForStderr("peer silent too long", 5, 2));
    // The silent one's request is summed up with the error of its own read (a time-out).
    EXPECT_TRUE(server.ctl.waitForStderr("0 lines, 0 bytes, 0 of 8 expected lines (TCP read error " + std::to_string(ETIMEDOUT) + ")", 5))
        << server.ctl.stderrText();
    EXPECT_TRUE(server.servesGoodPeer());
    server.stop();
}

TEST(WsServerE2E, StandardClientGetsNoAnswerAndTheServerGoesOn)
{
    ServerUnit server("ws-e2e-standard");
    ASSERT_TRUE(server.listening()) << server.ctl.stderrText();
    const int port = server.port;
    WsUnit& u = server.u;
    // Python's websockets sends "Connection: Upgrade" and no protocol line: the request
    // never reaches the server's count, so it never answers.
    const std::string script =
        "import asyncio, sys, websockets\n"
        "async def main():\n"
        "    try:\n"
        "        async with websockets.connect(sys.argv[1], open_timeout=3) as ws:\n"
        "            print('OPEN')\n"
        "    except asyncio.TimeoutError:\n"
        "        print('TIMEOUT')\n"
        "    except Exception as e:\n"
        "        print('ERROR', type(e).__name__)\n"
        "asyncio.run(main())\n";
    const std::string path = u.unit.path("sim/standard_client.py");
    writeFile(path, script);
    FILE* p = popen(("/usr/bin/python3 " + path + " ws://127.0.0.1:" + std::to_string(port) + "/ 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, p);
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    pclose(p);
    // No answer: the client gives up, or the server ends the connection at its login window
    // first; it never opens.
    EXPECT_TRUE(out == "TIMEOUT\n" || out == "ERROR InvalidMessage\n") << out;
    // The server goes on: the next peer of the unit's own form is served.
    EXPECT_TRUE(server.servesGoodPeer());
    server.stop();
}

namespace {

// A server that answers every request with a wrong accept value, counting its connections.
struct WrongKeyServer {
    explicit WrongKeyServer(int port)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a = hamlibtest::loopback(port);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 4);
        thread = std::thread([this] {
            while (!stop) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0)
                    continue;
                const int c = accept(fd, nullptr, nullptr);
                if (c < 0)
                    continue;
                std::string request;
                char ch;
                while (request.find("\r\n\r\n") == std::string::npos && recv(c, &ch, 1, 0) == 1)
                    request += ch;
                const std::string answer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
                                           "Upgrade\r\nSec-WebSocket-Accept: AAAAAAAAAAAAAAAAAAAAAAAAAAA=\r\n"
                                           "Sec-WebSocket-Protocol: chat\r\n\r\n";
                // Counted before the answer goes, so a client that has logged the answer
                // finds it counted.
                ++connections;
                ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
                sleepMs(200);
                close(c);
            }
        });
    }
    ~WrongKeyServer()
    {
        stop = true;
        thread.join();
        close(fd);
    }
    int fd = -1;
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    std::thread thread;
};

} // namespace

TEST(WsClientE2E, MirrorsTheServerAndReconnectsAfterItsLoss)
{
    // With "EnableDebug" each status frame run through the command handler is logged.
    wstest::ServerAndClient pair("ws-e2e", "EnableDebug: 1\n");
    pair.start();
    sim::ControllerProcess& ctlClient = *pair.ctlClient;
    // The client connects, its key checks out, it sends the password and mirrors the
    // server's status frames (run through its command handler); the server hears the
    // client's own status frames the same way.
    ASSERT_TRUE(ctlClient.waitForStderr("Websocket Connected", 60)) << ctlClient.stderrText();
    EXPECT_TRUE(ctlClient.waitForStderr("keys correct", 1));
    EXPECT_TRUE(pair.ctlServer->waitForStderr("Receiving data", 5));
    EXPECT_TRUE(ctlClient.waitForStderr("BUFFER Wsocket : 20m 0", 10)) << ctlClient.stderrText();
    EXPECT_TRUE(pair.ctlServer->waitForStderr("BUFFER Wsocket : 20m 0", 10));

    // The server goes away: the client notices, retries every 2 s, and connects again with
    // the same key once a server is back on the port.
    pair.ctlServer->kill();
    pair.ctlServer->waitExit(10);
    pair.ctlServer.reset();
    EXPECT_TRUE(ctlClient.waitForStderr("TCP read Error 2A", 10)) << ctlClient.stderrText();
    EXPECT_TRUE(ctlClient.waitForStderr("reconnecting", 5));
    EXPECT_TRUE(ctlClient.waitForStderr("Connect Error\n", 10, 2));
    EXPECT_TRUE(ctlClient.running());
    pair.startServer();
    EXPECT_TRUE(ctlClient.waitForStderr("Websocket Connected", 60, 2)) << ctlClient.stderrText();
    const std::string err = ctlClient.stderrText();
    // Both checks logged the same expected value: the key was kept across the reconnection.
    const size_t a = err.find("keys correct ");
    const size_t b = err.find("keys correct ", a + 1);
    ASSERT_NE(std::string::npos, b);
    EXPECT_EQ(err.substr(a, err.find('\n', a) - a), err.substr(b, err.find('\n', b) - b));
    EXPECT_TRUE(pair.ctlServer->waitForStderr("BUFFER Wsocket : 20m 0", 10));
}

TEST(WsClientE2E, WrongKeyAnswerIsRetriedAndTheProgramGoesOn)
{
    const int port = hamlibtest::freePort();
    WrongKeyServer fake(port);
    WsUnit client("ws-e2e-wrongkey", wstest::clientSetup(port));
    sim::ControllerProcess ctl(AMPCTL_BIN, client.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    EXPECT_TRUE(ctl.waitForStderr("keys not correct", 60, 2)) << ctl.stderrText();
    EXPECT_GE(fake.connections.load(), 2);
    EXPECT_TRUE(ctl.running());
    EXPECT_EQ(std::string::npos, ctl.stderrText().find("Websocket Connected"));
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30));
}
