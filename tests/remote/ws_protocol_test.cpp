// The remote protocol's pure logic, against the test library's own reading of the wire
// form (tests/remote/ws_peer.h): the accept value, the request and response lines, the
// frame reader on every length form and on split input, what each inbound message does
// before and after the password, picture chunks, the command handler, and the bytes each
// sender writes.
#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "remote/ws_commands.h"
#include "remote/ws_frames.h"
#include "remote/ws_handshake.h"
#include "remote/ws_inbound.h"
#include "remote/ws_peer.h"
#include "remote/ws_picture.h"
#include "remote/ws_reader.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <opus/opus.h>
#include <sys/socket.h>
#include <thread>
#include <turbojpeg.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {

// Bytes handed out `step` at a time, as a socket may deliver them.
WsSource stringSource(const std::string& bytes, size_t step = 1 << 20)
{
    auto at = std::make_shared<size_t>(0);
    return [bytes, step, at](unsigned char* out, size_t length) -> long {
        const size_t n = std::min({length, step, bytes.size() - *at});
        if (n == 0)
            return 0;
        std::memcpy(out, bytes.data() + *at, n);
        *at += n;
        return static_cast<long>(n);
    };
}

// Everything readable on fd without waiting.
std::string drainFd(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

struct RemoteFixture {
    RemoteFixture()
    {
        works->setup = setup.get();
        works->sendMut = &sendMut;
        works->wsMut = &wsMut;
        works->serMut = &serMut;
        works->serPar = &serPar;
        InitGlobalVar(works.get());
        InitErrorTable(works.get());
        initSetup(works.get());
        works->fb = fbCreateInMemory(800, 480, 4);
        // The transceiver port and the CAT port as the readable end of socket pairs.
        socketpair(AF_UNIX, SOCK_STREAM, 0, ser);
        socketpair(AF_UNIX, SOCK_STREAM, 0, cat);
        works->serFD = ser[0];
        works->catFD = cat[0];
    }
    ~RemoteFixture()
    {
        fbDestroy(works->fb);
        for (int fd : {ser[0], ser[1], cat[0], cat[1]})
            close(fd);
    }
    // Reads one frame from bytes and hands it to the connection.
    int feed(WsConnection& c, const std::string& bytes)
    {
        WsByteReader reader(stringSource(bytes));
        WsFrame frame;
        int step = 0;
        if (wsReadFrame(reader, frame, step) != WsReadResult::Ok)
            return -99;
        return wsHandleFrame(c, frame);
    }
    WsConnection server()
    {
        WsConnection c;
        c.works = works.get();
        return c;
    }
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    std::mutex sendMut, wsMut, serMut;
    SerParam serPar;
    int ser[2] = {-1, -1};
    int cat[2] = {-1, -1};
};

} // namespace

TEST(WsHandshake, AcceptValueMatchesTheStandardForEveryKey)
{
    // The sample key of the WebSocket standard and its published accept value.
    EXPECT_EQ("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=", wsAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="));
    // Many keys, among them keys whose digest holds a zero byte.
    int withZero = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string key = wstest::base64(reinterpret_cast<const unsigned char*>(&i), sizeof i) + "xyz";
        const std::string joined = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
        unsigned char d[SHA_DIGEST_LENGTH];
        SHA1(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), d);
        withZero += std::find(d, d + sizeof d, 0) != d + sizeof d;
        ASSERT_EQ(wstest::acceptFor(key), wsAcceptKey(key)) << key;
    }
    EXPECT_GT(withZero, 10);
}

TEST(WsHandshake, RequestNeedsTheSevenLinesAndTheEmptyLine)
{
    auto run = [](const std::string& text, WsRequestState& s) {
        WsByteReader reader(stringSource(text, 7));
        std::string line;
        int r = 0;
        while (r == 0 && reader.readLine(line))
            r = wsRequestLine(s, line);
        return r;
    };
    WsRequestState good;
    EXPECT_EQ(1, run(wstest::request("dGhlIHNhbXBsZSBub25jZQ=="), good));
    EXPECT_EQ("dGhlIHNhbXBsZSBub25jZQ==", good.key);
    EXPECT_EQ("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\nSec-WebSocket-Protocol: chat\r\n\r\n",
              wsResponse(good));

    // A standard browser-style request says "Connection: Upgrade" and has no protocol line:
    // it never completes.
    WsRequestState standard;
    EXPECT_EQ(0, run("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: abc\r\nSec-WebSocket-Version: 13\r\n\r\n",
                     standard));
    // The client's own request: six lines and two empty lines.
    WsRequestState client;
    std::string text;
    for (int i = 0; i < WS_REQUEST_LINES; ++i)
        text += wsRequestLineText(i, "127.0.0.1", 6666, "a2V5");
    EXPECT_EQ(1, run(text, client));
    EXPECT_EQ("a2V5", client.key);
    // A key longer than its slot is refused; a line without its line feed does not count.
    WsRequestState longKey;
    EXPECT_EQ(-1, run("Sec-WebSocket-Key: " + std::string(100, 'k') + "\r\n", longKey));
    WsRequestState unterminated;
    EXPECT_EQ(0, wsRequestLine(unterminated, "Host: x"));
    EXPECT_EQ(0, unterminated.progress);
}

TEST(WsHandshake, ClientChecksTheAcceptValue)
{
    const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
    auto run = [&](const std::string& text) {
        WsResponseState s;
        WsByteReader reader(stringSource(text));
        std::string line;
        int r = 0;
        while (r == 0 && reader.readLine(line))
            r = wsResponseLine(s, line, key);
        return r;
    };
    WsRequestState req;
    req.key = key;
    EXPECT_EQ(1, run(wsResponse(req)));
    req.key = "another";
    EXPECT_EQ(-1, run(wsResponse(req)));
}

TEST(WsFrames, ReaderTakesEveryLengthFormAndWaitsForSplitInput)
{
    // A text frame of 12 whose last 2 bytes come late (here: one byte per read).
    WsFrame f;
    int step = 0;
    const std::string text = wstest::textFrame("quintabrezza", "\x01\x02\x03\x04");
    WsByteReader split(stringSource(text, 1));
    ASSERT_EQ(WsReadResult::Ok, wsReadFrame(split, f, step));
    EXPECT_EQ(18u, f.size);
    wsUnmask(f);
    EXPECT_EQ("quintabrezza", std::string(f.payload().begin(), f.payload().end()));
    // The same frame cut 2 bytes short: the reader reports the end, never a frame.
    WsByteReader cut(stringSource(text.substr(0, 16)));
    EXPECT_EQ(WsReadResult::Ended, wsReadFrame(cut, f, step));
    EXPECT_EQ(3, step);

    // Short binary, 16-bit and 32-bit forms back to back on one stream.
    const std::string stream = wstest::shortFrame("SC", "RX;\0"s) + wstest::longFrame("SO", wstest::be32(3) + "abc") +
                               "\x82\x7f"s + wstest::be32(6) + "wxyz";
    WsByteReader r(stringSource(stream, 3));
    ASSERT_EQ(WsReadResult::Ok, wsReadFrame(r, f, step));
    EXPECT_EQ("SCRX;\0"s, std::string(f.payload().begin(), f.payload().end()));
    ASSERT_EQ(WsReadResult::Ok, wsReadFrame(r, f, step));
    EXPECT_TRUE(f.longForm);
    EXPECT_EQ("SO"s + wstest::be32(3) + "abc", std::string(f.payload().begin(), f.payload().end()));
    ASSERT_EQ(WsReadResult::Ok, wsReadFrame(r, f, step));
    EXPECT_EQ("wxyz", std::string(f.payload().begin(), f.payload().end()));
    EXPECT_EQ(WsReadResult::Ended, wsReadFrame(r, f, step));

    // Raw audio blocks: the default (Multiplier 2, 1920 bytes) and the largest (Multiplier
    // 24, 23040 bytes) fit; a frame one byte longer than the largest, and lengths beyond
    // any frame the link defines, are refused.
    for (const size_t samples : {480u, 5760u}) {
        WsByteReader raw(stringSource(wstest::longFrame("SO", wstest::be32(static_cast<uint32_t>(samples * 4)) + std::string(samples * 4, 'a'))));
        ASSERT_EQ(WsReadResult::Ok, wsReadFrame(raw, f, step)) << samples;
        EXPECT_EQ(10 + samples * 4, f.size);
    }
    WsByteReader over(stringSource(wstest::longFrame("SO", wstest::be32(23041) + std::string(23041, 'a'))));
    EXPECT_EQ(WsReadResult::TooLong, wsReadFrame(over, f, step));
    WsByteReader big16(stringSource("\x82\x7e\xff\xff"s + std::string(1024, 'x')));
    EXPECT_EQ(WsReadResult::TooLong, wsReadFrame(big16, f, step));
    WsByteReader big32(stringSource("\x82\x7f\xff\xff\xff\xff"s + std::string(64, 'x')));
    EXPECT_EQ(WsReadResult::TooLong, wsReadFrame(big32, f, step));
    WsByteReader noTag(stringSource("\x82\x01xyz"s));
    EXPECT_EQ(WsReadResult::Malformed, wsReadFrame(noTag, f, step));
}

TEST(WsInbound, NothingActsBeforeThePasswordAndAWrongCharacterEndsIt)
{
    RemoteFixture fx;
    Works* w = fx.works.get();
    w->divideSetting = 3;
    // Every kind of message before the password ends the connection with no effect.
    for (const std::string& m : {wstest::shortFrame("SC", "RX;"), wstest::shortFrame("CA", "FA;"),
                                 wstest::shortFrame("PA", "xx"), wstest::shortFrame("ST", "ZOLTFD16"),
                                 wstest::pictureChunk(4, 0, "abcd"), wstest::longFrame("SO", wstest::be32(2) + "ab"),
                                 "\x88\x02\x03\xe8"s}) {
        WsConnection c = fx.server();
        EXPECT_EQ(-1, fx.feed(c, m));
        EXPECT_FALSE(c.authenticated);
    }
    EXPECT_EQ(3, w->divideSetting);
    EXPECT_EQ("", drainFd(fx.ser[1]));
    EXPECT_EQ("", drainFd(fx.cat[1]));

    // One wrong character, a prefix, a longer text: refused.
    for (const std::string& p : {"quintabrezzA"s, "quintabrezz"s, "quintabrezzaa"s, ""s}) {
        WsConnection c = fx.server();
        EXPECT_EQ(-1, fx.feed(c, wstest::textFrame(p, "\x11\x22\x33\x44"))) << p;
        EXPECT_FALSE(c.authenticated);
    }
    // The frame 81 0C 00 00 00 00 and the 12 characters authenticates; so does any key.
    WsConnection c = fx.server();
    EXPECT_EQ(0, fx.feed(c, "\x81\x0c\0\0\0\0quintabrezza"s));
    EXPECT_TRUE(c.authenticated);
    WsConnection masked = fx.server();
    EXPECT_EQ(0, fx.feed(masked, wstest::textFrame("quintabrezza", "\x5a\xa5\x0f\xf0")));
    EXPECT_TRUE(masked.authenticated);
    // Text up to a zero byte, as the password is a zero-terminated text.
    EXPECT_TRUE(wsPasswordMatches("quintabrezza", std::span(reinterpret_cast<const unsigned char*>("quintabrezza\0xy"), 15)));
    // A long-form text frame is refused (the length does not match the form).
    WsConnection longText = fx.server();
    EXPECT_EQ(-1, fx.feed(longText, "\x81\x7e\x00\x04" "abcd"s));

    // After it: the transceiver port gets "SC" data, "PA" data; the CAT port "CA" data.
    EXPECT_EQ(0, fx.feed(c, "\x82\x06SCRX;\0"s));
    EXPECT_EQ("RX;\0"s, drainFd(fx.ser[1]));
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("PA", "P1")));
    EXPECT_EQ("P1", drainFd(fx.ser[1]));
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("CA", "FA;")));
    EXPECT_EQ("FA;", drainFd(fx.cat[1]));
    // Later texts, a close frame, the 32-bit form: no effect, the connection stays.
    EXPECT_EQ(0, fx.feed(c, wstest::textFrame("ZOLTFD16")));
    EXPECT_EQ(0, fx.feed(c, "\x88\x02\x03\xe8"s));
    EXPECT_EQ(0, fx.feed(c, "\x82\x7f"s + wstest::be32(4) + "ZO"));
    EXPECT_EQ(3, w->divideSetting);
    // An audio length past the frame ends the connection.
    EXPECT_EQ(-1, fx.feed(c, wstest::longFrame("SO", wstest::be32(3) + "ab")));
    // A port that is not open drops the data and keeps the connection; a failed write ends it.
    w->serFD = -1;
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("SC", "RX;")));
    const int devNullRead = open("/dev/null", O_RDONLY);
    w->catFD = devNullRead;
    setSetupSwitch(w->setup, &Orvosetup::EnableCAT, '1');
    EXPECT_EQ(-1, fx.feed(c, wstest::shortFrame("CA", "FA;")));
    // A failing CAT port is given up: CAT switched off, the port closed (0).
    EXPECT_EQ('0', setupSwitch(w->setup, &Orvosetup::EnableCAT));
    EXPECT_EQ(0, w->catFD);
    close(devNullRead);
    // With the port closed (0), CAT data is dropped and the connection stays.
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("CA", "FA;")));
}

// The peer's audio on real ALSA devices of the null plugin, raw samples into a block of
// 240 frames: a block that fits is played and the connection stays; one that cannot fit
// ends the connection at either end; a device that refuses the samples for another reason
// than an underrun (one never set up) leaves the server's peer connected and ends the
// client's frame loop, so that the client connects again.
TEST(WsInbound, AudioRefusedByThePlayerEndsTheConnectionOnlyWhereItShould)
{
    RemoteFixture fx;
    Works* w = fx.works.get();
    setSetupSwitch(w->setup, &Orvosetup::EnableWrite, '1');
    w->audioBitrate = 0;
    snd_pcm_t* ready = nullptr;
    snd_pcm_t* neverSetUp = nullptr;
    ASSERT_EQ(0, snd_pcm_open(&ready, "null", SND_PCM_STREAM_PLAYBACK, 0));
    ASSERT_EQ(0, snd_pcm_set_params(ready, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, 48000, 1, 100000));
    ASSERT_EQ(0, snd_pcm_open(&neverSetUp, "null", SND_PCM_STREAM_PLAYBACK, 0));
    const auto playOn = [&](snd_pcm_t* pcm) {
        std::lock_guard lock(w->audioOutMutex);
        w->pcmOut = pcm;
        w->playBuf.assign(240 * 4, 0);
        w->playFree1 = 0;
        w->playMinFree = 0;
        w->audioOutOn = 1;
    };
    const auto audio = [](size_t bytes) { return wstest::longFrame("SO", wstest::be32(static_cast<uint32_t>(bytes)) + std::string(bytes, '\x11')); };
    WsConnection server = fx.server();
    server.authenticated = true;
    WsConnection client = fx.server();
    client.role = WsRole::Client;
    client.authenticated = true;

    playOn(ready);
    for (WsConnection* c : {&server, &client}) {
        EXPECT_EQ(0, fx.feed(*c, audio(960)));
        EXPECT_EQ(-1, fx.feed(*c, audio(964)));
    }

    playOn(neverSetUp);
    EXPECT_EQ(0, fx.feed(server, audio(960)));
    EXPECT_EQ(-1, fx.feed(client, audio(960)));
    // With playback switched off the same message is dropped and nothing ends.
    setSetupSwitch(w->setup, &Orvosetup::EnableWrite, '0');
    EXPECT_EQ(0, fx.feed(client, audio(960)));

    {
        std::lock_guard lock(w->audioOutMutex);
        w->pcmOut = nullptr;
        w->audioOutOn = 0;
    }
    snd_pcm_close(ready);
    snd_pcm_close(neverSetUp);
}

// A CAT port whose line is full when the message comes: the relay waits for room and the
// whole message follows what was queued, in order; the connection and CAT stay.
TEST(WsInbound, CatMessageWaitsForRoomOnAFullLine)
{
    RemoteFixture fx;
    Works* w = fx.works.get();
    setSetupSwitch(w->setup, &Orvosetup::EnableCAT, '1');
    WsConnection c = fx.server();
    c.authenticated = true;
    ASSERT_EQ(0, fcntl(fx.cat[0], F_SETFL, fcntl(fx.cat[0], F_GETFL) | O_NONBLOCK));
    std::string queued;
    const std::string filler(256, 'x');
    for (ssize_t n; (n = ::send(fx.cat[0], filler.data(), filler.size(), MSG_DONTWAIT)) > 0;)
        queued.append(filler, 0, static_cast<size_t>(n));
    ASSERT_FALSE(queued.empty());
    const std::string message = "FA00014070000;";
    std::string received;
    std::thread port([&] {
        sleepMs(20);
        const double end = monoSeconds() + 10;
        while (received.size() < queued.size() + message.size() && monoSeconds() < end) {
            char buf[4096];
            const ssize_t n = ::recv(fx.cat[1], buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                received.append(buf, static_cast<size_t>(n));
            else
                sleepMs(1);
        }
    });
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("CA", message)));
    port.join();
    ASSERT_EQ(queued.size() + message.size(), received.size());
    EXPECT_EQ(queued, received.substr(0, queued.size()));
    EXPECT_EQ(message, received.substr(queued.size()));
    EXPECT_EQ('1', setupSwitch(w->setup, &Orvosetup::EnableCAT));
    EXPECT_EQ(fx.cat[0], w->catFD);
}

TEST(WsInbound, ClientDecodesParameterFramesAndWritesCat)
{
    RemoteFixture fx;
    WsConnection c = fx.server();
    c.role = WsRole::Client;
    c.authenticated = true;
    // Length byte 33: a 31-byte parameter frame (memory frequency 14.2 MHz, 0x00D8ACC0, as
    // one nibble a byte).
    std::string frame(31, '\0');
    frame[0] = 0x01;
    frame.replace(1, 8, "\x00\x00\x0d\x08\x0a\x0c\x0c\x00"s);
    const std::string pa = wstest::shortFrame("PA", frame);
    ASSERT_EQ(33, pa[1]);
    EXPECT_EQ(0, fx.feed(c, pa));
    EXPECT_EQ(14200000u, fx.serPar.frequency);
    // Nothing of it goes to the transceiver port; "SC" is not the client's to act on.
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("SC", "RX;")));
    EXPECT_EQ("", drainFd(fx.ser[1]));
    EXPECT_EQ(0, fx.feed(c, wstest::shortFrame("CA", "IF;")));
    EXPECT_EQ("IF;", drainFd(fx.cat[1]));
}

TEST(WsCommands, DividerSourceAndBankCommands)
{
    RemoteFixture fx;
    Works* w = fx.works.get();
    WsConnection c = fx.server();
    c.authenticated = true;
    ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", "ZOLTFD16")));
    EXPECT_EQ(16, w->divideSetting);
    ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", "ZOLTFT01")));
    EXPECT_EQ(16, w->divideSetting);
    EXPECT_EQ('1', setupSwitch(w->setup, &Orvosetup::fftMirror));
    EXPECT_EQ('0', setupSwitch(w->setup, &Orvosetup::Enable1600));
    w->divideSetting = 0;
    ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", "ZOLTFT02")));
    EXPECT_EQ(2, w->divideSetting);
    EXPECT_EQ('1', setupSwitch(w->setup, &Orvosetup::Enable1600));
    ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", "ZOLTFT00")));
    EXPECT_EQ('0', setupSwitch(w->setup, &Orvosetup::fftMirror));
    // The text is cleared before each command: a shorter one leaves nothing of the last.
    ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", "ZOLTFD7")));
    EXPECT_EQ(7, w->divideSetting);
    // A divider that is not a number of 1 to 99 (the setup file keeps two digits) is
    // refused and the last one stays: never negative, zero, overflowed or cut.
    for (const char* bad : {"ZOLTFD-5", "ZOLTFD0", "ZOLTFD", "ZOLTFD99999999999", "ZOLTFD4294967312", "ZOLTFD100", "ZOLTFD12x"}) {
        ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", bad)));
        EXPECT_EQ(7, w->divideSetting) << bad;
    }
    ASSERT_EQ(0, fx.feed(c, wstest::shortFrame("ST", "ZOLTFD99\r\n")));
    EXPECT_EQ(99, w->divideSetting);
    std::memcpy(w->wsCmd, "ZOLTTU2", 8);
    EXPECT_EQ(1, dispStat(w));
    std::memcpy(w->wsCmd, "20m 1", 6);
    EXPECT_EQ(0, dispStat(w));

    // A command is logged; a peer's status text (one per frame) only with EnableDebug.
    for (const int debug : {0, 1}) {
        w->enableDebug = debug;
        testing::internal::CaptureStderr();
        std::memcpy(w->wsCmd, "20m 1", 6);
        dispStat(w);
        std::memcpy(w->wsCmd, "ZOLTTU2", 8);
        dispStat(w);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(debug == 1, log.find("BUFFER Wsocket : 20m 1") != std::string::npos) << log;
        EXPECT_NE(std::string::npos, log.find("BUFFER Wsocket : ZOLTTU2")) << log;
    }
}

TEST(WsPicture, ChunksShowARawPictureOrAJpegOfTheScreenSize)
{
    RemoteFixture fx;
    Works* w = fx.works.get();
    FrameBuffer* fb = w->fb;
    PictureAssembly pic;
    auto fields = [](uint32_t t, uint32_t p, const std::string& bytes) { return wstest::be32(t) + wstest::be32(p) + bytes; };
    auto span = [](const std::string& s) { return std::span(reinterpret_cast<const unsigned char*>(s.data()), s.size()); };

    // A JPEG of the screen's size in 512-byte chunks: the last one shows it.
    const std::string jpeg = wstest::jpegOf(800, 480, 200, 40, 10);
    for (size_t p = 0; p < jpeg.size(); p += 512) {
        const std::string chunk = fields(static_cast<uint32_t>(jpeg.size()), static_cast<uint32_t>(p), jpeg.substr(p, 512) + std::string(512, '\0'));
        ASSERT_EQ(0, pictureChunk(w, pic, span(chunk.substr(0, 8 + 512))));
    }
    // The screen's byte order: blue, green, red.
    const unsigned char* px = fb->screenMem + (240 * 800 + 400) * 4;
    EXPECT_NEAR(10, px[0], 3);
    EXPECT_NEAR(40, px[1], 3);
    EXPECT_NEAR(200, px[2], 3);

    // T = 1000: chunks at 0 and 512, the second copies 488 bytes; not a JPEG, so the
    // screen stays as it was.
    const std::vector<unsigned char> before(fb->screenMem, fb->screenMem + fb->memSize);
    EXPECT_EQ(0, pictureChunk(w, pic, span(fields(1000, 0, std::string(512, 'a')))));
    const unsigned char pastTotal = pic.data[1000];
    EXPECT_EQ(-2, pictureChunk(w, pic, span(fields(1000, 512, std::string(512, 'b')))));
    EXPECT_EQ('b', pic.data[999]);
    EXPECT_EQ(pastTotal, pic.data[1000]);
    // A JPEG of another size is refused and the screen is unchanged.
    const std::string small = wstest::jpegOf(320, 240, 0, 255, 0);
    int last = 0;
    for (size_t p = 0; p < small.size(); p += 512)
        last = pictureChunk(w, pic, span(fields(static_cast<uint32_t>(small.size()), static_cast<uint32_t>(p), small.substr(p, 512))));
    EXPECT_EQ(-2, last);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), fb->screenMem));

    // Offsets and totals that do not fit end the connection.
    EXPECT_EQ(-1, pictureChunk(w, pic, span(fields(1000, 1000, "x"))));
    EXPECT_EQ(-1, pictureChunk(w, pic, span(fields(fb->memSize + 1, 0, std::string(512, 'x')))));
    EXPECT_EQ(-1, pictureChunk(w, pic, span(fields(1000, 512, std::string(100, 'x')))));
    EXPECT_EQ(-1, pictureChunk(w, pic, span("\0\0\0"s)));

    // A raw picture of exactly the screen's size is shown as it is.
    std::string raw(fb->memSize, '\0');
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<char>(i * 7);
    for (size_t p = 0; p < raw.size(); p += 512)
        ASSERT_EQ(0, pictureChunk(w, pic, span(fields(fb->memSize, static_cast<uint32_t>(p), raw.substr(p, 512)))));
    EXPECT_EQ(0, std::memcmp(fb->screenMem, raw.data(), raw.size()));
}

TEST(WsSenders, FrameBytesOnTheWireAndNothingWithoutAPeer)
{
    RemoteFixture fx;
    Works* w = fx.works.get();
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    const std::string status(44, 's');

    // No peer: nothing is written (and the lock is not needed).
    w->wsSock = pair[0];
    w->wsConnected = 0;
    EXPECT_NE(0, sendWebSockStatusFrame(w, status.data(), status.size()));
    EXPECT_EQ("", drainFd(pair[1]));

    wsPublishPeer(w, pair[0]);
    EXPECT_EQ(0, sendWebSockStatusFrame(w, status.data(), status.size()));
    EXPECT_EQ("\x82\x2eST"s + status, drainFd(pair[1]));
    sendWebSockCatFrame(w, reinterpret_cast<const unsigned char*>("FA00014200000;"), 14);
    EXPECT_EQ("\x82\x10" "CAFA00014200000;"s, drainFd(pair[1]));
    const std::string tooLong(124, 'p');
    sendWebSockSerParFrame(w, reinterpret_cast<const unsigned char*>(tooLong.data()), tooLong.size());
    EXPECT_EQ("", drainFd(pair[1]));

    // A spectrum line of 854 bytes: two 526-byte chunks, the second with 342 bytes and 170 zeros.
    std::string line(854, '\0');
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char>(1 + i % 200);
    sendWebSockSerSpectrFrame(w, reinterpret_cast<const unsigned char*>(line.data()), line.size());
    const std::string sp = drainFd(pair[1]);
    ASSERT_EQ(2 * 526u, sp.size());
    EXPECT_EQ("\x82\x7e\x02\x0aSP"s + wstest::be32(854) + wstest::be32(0) + line.substr(0, 512), sp.substr(0, 526));
    EXPECT_EQ("\x82\x7e\x02\x0aSP"s + wstest::be32(854) + wstest::be32(512) + line.substr(512) + std::string(170, '\0'),
              sp.substr(526));
    sendWebSockSerSpectrFrame(w, reinterpret_cast<const unsigned char*>(line.data()), 0);
    EXPECT_EQ("", drainFd(pair[1]));
    sendWebSockSerSpectrFrame(w, reinterpret_cast<const unsigned char*>(line.data()), 512);
    EXPECT_EQ(526u, drainFd(pair[1]).size());

    // Audio, raw: 240 frames of 4 bytes after the 10-byte header.
    w->audioFrameSamples = 240;
    w->audioBitrate = 0;
    std::string pcm(960, '\0');
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<char>(i);
    sendWebSockAudioFrame(w, reinterpret_cast<const unsigned char*>(pcm.data()));
    EXPECT_EQ("\x82\x7e\x03\xc6SO"s + wstest::be32(960) + pcm, drainFd(pair[1]));

    // Audio, Opus: the packet decodes back to a frame of 240 samples.
    int err = 0;
    w->opusEnc = opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, &err);
    ASSERT_EQ(OPUS_OK, err);
    w->audioBitrate = 64000;
    opus_encoder_ctl(w->opusEnc, OPUS_SET_BITRATE(64000));
    sendWebSockAudioFrame(w, reinterpret_cast<const unsigned char*>(pcm.data()));
    const std::string so = drainFd(pair[1]);
    ASSERT_GT(so.size(), 10u);
    EXPECT_EQ("\x82\x7e"s, so.substr(0, 2));
    EXPECT_EQ("SO", so.substr(4, 2));
    const size_t a = static_cast<unsigned char>(so[8]) << 8 | static_cast<unsigned char>(so[9]);
    EXPECT_EQ(so.size(), a + 10);
    EXPECT_EQ(a + 6, static_cast<size_t>(static_cast<unsigned char>(so[2]) << 8 | static_cast<unsigned char>(so[3])));
    OpusDecoder* dec = opus_decoder_create(48000, 2, &err);
    opus_int16 out[240 * 2];
    EXPECT_EQ(240, opus_decode(dec, reinterpret_cast<const unsigned char*>(so.data() + 10), static_cast<opus_int32>(a), out, 240, 0));
    opus_decoder_destroy(dec);
    // A frame size Opus cannot encode: nothing is sent, and the lock is free afterwards.
    w->audioFrameSamples = 100;
    sendWebSockAudioFrame(w, reinterpret_cast<const unsigned char*>(pcm.data()));
    EXPECT_EQ("", drainFd(pair[1]));
    EXPECT_TRUE(fx.sendMut.try_lock());
    fx.sendMut.unlock();
    opus_encoder_destroy(w->opusEnc);
    w->opusEnc = nullptr;

    // Retired: wsConnected 0, the socket closed, nothing more written.
    wsRetirePeer(w, pair[0]);
    EXPECT_EQ(0, w->wsConnected);
    EXPECT_EQ(-1, w->wsSock);
    EXPECT_NE(0, sendWebSockStatusFrame(w, status.data(), status.size()));
    close(pair[1]);
}
