#include "remote/ws_inbound.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "remote/audio.h"
#include "remote/ws_commands.h"
#include "transceiver/cat_usb.h"
#include "transceiver/serial_link.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unistd.h>

namespace {

constexpr uint8_t TEXT_FRAME = 0x81;
constexpr uint8_t BINARY_FRAME = 0x82;

uint32_t be32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

std::string printable(std::span<const unsigned char> bytes)
{
    std::string out;
    for (unsigned char c : bytes.first(std::min<size_t>(bytes.size(), 125)))
        out += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '.';
    return out;
}

// The password frame: the first text frame of the connection.
int passwordFrame(WsConnection& c, const WsFrame& frame)
{
    Works* works = c.works;
    const std::span<const unsigned char> received = frame.payload();
    // The attempt is logged, never a password: neither the expected one nor what was sent
    // (a mistyped password is most of the secret).
    if (!wsPasswordMatches(remotePasswordText(works).c_str(), received)) {
        logSys(LOG_ERR, "wrong password (%d characters): connection ended", static_cast<int>(received.size()));
        return -1;
    }
    logSys(LOG_INFO, "password accepted");
    c.authenticated = true;
    return 0;
}

// Acts on the result of a relay to a port: data for a port that is not open is dropped with
// a log line; a port that would not take it ends the connection (-1).
int relayed(const char* what, int result, size_t length, const char* errorLine)
{
    if (result == 1)
        logSys(LOG_INFO, "%s: port not open, %d bytes dropped", what, static_cast<int>(length));
    if (result < 0) {
        logSys(LOG_INFO, errorLine, errno);
        return -1;
    }
    return 0;
}

// The short form: tag and up to 123 bytes of data.
int shortMessage(WsConnection& c, std::string_view tag, std::span<const unsigned char> data)
{
    Works* works = c.works;
    if (tag == "CA") {
        // A CAT port that fails is closed and CAT switched off (the remote group restarts).
        if (relayed("CA", writeCatPort(works, data.data(), data.size()), data.size(), "TCP read Error 7a %d") == 0)
            return 0;
        ExitCAT(works);
        return -1;
    }
    if (tag == "ST") {
        std::memset(works->wsCmd, 0, sizeof works->wsCmd);
        std::memcpy(works->wsCmd, data.data(), std::min(data.size(), sizeof works->wsCmd - 1));
        dispStat(works);
        return 0;
    }
    if (c.role == WsRole::Server && tag == "SC")
        return relayed("SC", writeTransceiverPort(works, data.data(), data.size()), data.size(), "TCP read Error 7a %d");
    if (c.role == WsRole::Server && tag == "PA") {
        if (works->enableDebug)
            logErr("S BUFFER WEB SERVER : %s\n", printable(data).c_str());
        return relayed("PA", writeTransceiverPort(works, data.data(), data.size()), data.size(), "TCP read Error 8a %d");
    }
    if (c.role == WsRole::Client && tag == "PA") {
        storeParameters(works, static_cast<int>(data.size()), data.data());
        return 0;
    }
    return 0;
}

// The 16-bit length form: tag, then the message fields.
int longMessage(WsConnection& c, std::string_view tag, std::span<const unsigned char> fields)
{
    Works* works = c.works;
    if (tag == "FB")
        return pictureChunk(works, c.picture, fields) == -1 ? -1 : 0;
    if (tag == "SO") {
        if (fields.size() < 4) {
            logSys(LOG_ERR, "audio message of %d bytes has no length", static_cast<int>(fields.size()));
            return -1;
        }
        const uint32_t length = be32(fields.data());
        if (length > fields.size() - 4) {
            logSys(LOG_ERR, "audio length %u past the frame (%d bytes)", length, static_cast<int>(fields.size() - 4));
            return -1;
        }
        if (setupSwitch(works->setup, &Orvosetup::EnableWrite) != '1')
            return 0;
        // A message that cannot fit the playback block is a bad length and ends the
        // connection. A device that refused the samples (other than by an underrun, which
        // the player recovers from) has been logged: the server keeps its peer, the client
        // leaves its frame loop and connects again.
        const int played = playRemoteAudio(works, fields.data() + 4, length);
        if (played == -1 || (played == -2 && c.role == WsRole::Client))
            return -1;
        return 0;
    }
    return 0;  // "SP" and unknown tags: nothing to do
}

} // namespace

bool wsPasswordMatches(const char* expected, std::span<const unsigned char> received)
{
    // Both texts zero-padded to the longest a text frame can carry, compared whole.
    constexpr size_t WIDTH = 128;
    std::array<unsigned char, WIDTH> a{};
    std::array<unsigned char, WIDTH> b{};
    std::memcpy(a.data(), expected, strnlen(expected, WIDTH - 1));
    const void* zero = std::memchr(received.data(), 0, received.size());
    const size_t length = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - received.data())
                               : received.size();
    std::memcpy(b.data(), received.data(), std::min(length, WIDTH - 1));
    volatile unsigned char diff = 0;
    for (size_t i = 0; i < WIDTH; ++i)
        diff = diff | (a[i] ^ b[i]);
    return diff == 0;
}

int wsHandleFrame(WsConnection& c, WsFrame& frame)
{
    const uint8_t kind = frame.kind();
    if (kind == TEXT_FRAME) {
        if (frame.longForm) {
            logSys(LOG_ERR, "wrong message length: is %d instead of %d", frame.bytes[1] & 0x7F,
                   static_cast<int>(frame.payloadLength));
            return -1;
        }
        wsUnmask(frame);
        if (c.role == WsRole::Server && !c.authenticated)
            return passwordFrame(c, frame);
        return 0;  // later texts have no effect
    }
    if (!c.authenticated) {
        logSys(LOG_ERR, "message of type %x before the password: connection ended", kind);
        return -1;
    }
    if (kind != BINARY_FRAME) {
        logSys(LOG_ERR, "wrong message type: %x", kind);
        return 0;
    }
    const std::span<const unsigned char> payload = frame.payload();
    if (payload.size() < 2)
        return 0;  // the 32-bit form may carry nothing
    const std::string_view tag(reinterpret_cast<const char*>(payload.data()), 2);
    if (frame.bytes[1] <= 125)
        return shortMessage(c, tag, payload.subspan(2));
    if (frame.bytes[1] == 126)
        return longMessage(c, tag, payload.subspan(2));
    return 0;  // the 32-bit form matches no message
}
