#include "remote/ws_handshake.h"

#include "platform/log.h"

#include <array>
#include <cstdio>
#include <glib.h>
#include <openssl/sha.h>

namespace {

constexpr const char* WS_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

// The request lines the server recognises, matched as prefixes, and the key line.
constexpr std::array<std::string_view, 7> requestHeader = {
    "GET ",
    "Host: ",
    "Sec-WebSocket-Version: ",
    "Sec-WebSocket-Protocol: ",
    "Sec-WebSocket-Key: ",
    "Connection: keep-alive, Upgrade",
    "Upgrade: websocket",
};
constexpr std::string_view keyHeader = "Sec-WebSocket-Key: ";
constexpr int REQUEST_COMPLETE = 7;

// The response lines the client recognises, and the accept line.
constexpr std::array<std::string_view, 5> responseHeader = {
    "HTTP/1.1 101 Switching Protocols",
    "Upgrade: websocket",
    "Connection: Upgrade",
    "Sec-WebSocket-Accept:",
    "Sec-WebSocket-Protocol: chat",
};
constexpr std::string_view recKeyHeader = "Sec-WebSocket-Accept: ";
constexpr int RESPONSE_COMPLETE = 5;

// The value after a header name without its trailing carriage return and line feed.
std::string_view trimLineEnd(std::string_view value)
{
    for (int i = 0; i < 2 && !value.empty() && (value.back() == '\r' || value.back() == '\n'); ++i)
        value.remove_suffix(1);
    return value;
}

std::string printable(std::string_view text)
{
    std::string out(text.substr(0, 200));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            c = '.';
    return out;
}

} // namespace

std::string wsBase64(const unsigned char* bytes, size_t length)
{
    gchar* encoded = g_base64_encode(bytes, length);
    std::string out = encoded ? encoded : "";
    g_free(encoded);
    return out;
}

std::string wsAcceptKey(std::string_view key)
{
    std::string joined(key);
    joined += WS_GUID;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), digest);
    // The digest is binary (it may hold zero bytes): its length is given, never measured.
    return wsBase64(digest, sizeof digest);
}

namespace {

// One line of a handshake, either side: it counts only when it ends with a line feed; each
// recognised header that prefixes it adds 1 (onHeader may refuse the line: -1), an empty
// line adds 1. Returns 1 once the count passes `complete`, -1 when refused, 0 otherwise.
// Nothing is logged per line: a peer that has not logged in could otherwise fill the log;
// the callers log one summary of the whole exchange.
template <size_t N, typename OnHeader>
int countLine(int& progress, std::string_view line, const std::array<std::string_view, N>& headers, int complete,
              OnHeader onHeader)
{
    if (line.empty() || line.back() != '\n')
        return 0;
    for (std::string_view header : headers) {
        if (!line.starts_with(header))
            continue;
        ++progress;
        if (onHeader(header) < 0)
            return -1;
    }
    if (line.size() <= 2)
        ++progress;
    return progress > complete ? 1 : 0;
}

} // namespace

int wsRequestLine(WsRequestState& state, std::string_view line)
{
    return countLine(state.progress, line, requestHeader, REQUEST_COMPLETE, [&](std::string_view header) {
        if (header != keyHeader)
            return 0;
        const std::string_view key = trimLineEnd(line.substr(keyHeader.size()));
        if (key.size() > WS_KEY_MAX) {
            logSys(LOG_ERR, "key of %d characters refused (at most %d)", static_cast<int>(key.size()),
                   static_cast<int>(WS_KEY_MAX));
            state.keyTooLong = true;
            return -1;
        }
        state.key.assign(key);
        return 0;
    });
}

std::string wsResponse(const WsRequestState& state)
{
    std::string out = "HTTP/1.1 101 Switching Protocols\r\n"
                      "Upgrade: websocket\r\n"
                      "Connection: Upgrade\r\n";
    out += "Sec-WebSocket-Accept: " + wsAcceptKey(state.key) + "\r\n";
    out += "Sec-WebSocket-Protocol: chat\r\n\r\n";
    return out;
}

int wsResponseLine(WsResponseState& state, std::string_view line, std::string_view clientKey)
{
    return countLine(state.progress, line, responseHeader, RESPONSE_COMPLETE, [&](std::string_view) {
        if (!line.starts_with(recKeyHeader))
            return 0;
        const std::string received(trimLineEnd(line.substr(recKeyHeader.size())));
        const std::string expected = wsAcceptKey(clientKey);
        if (received == expected) {
            logSys(LOG_ERR, "keys correct %s %s", printable(received).c_str(), expected.c_str());
            return 0;
        }
        logSys(LOG_ERR, "keys not correct %s %s", printable(received).c_str(), expected.c_str());
        state.failed = true;
        return -1;
    });
}

std::string wsRequestLineText(int index, const char* server, int port, std::string_view key)
{
    char line[160];
    switch (index) {
    case 0:
        return "GET /chat HTTP/1.1\r\n";
    case 1:
        snprintf(line, sizeof line, "Host: %s:%d\r\n", server, port);
        return line;
    case 2:
        return "Upgrade: websocket\r\n";
    case 3:
        return "Connection: keep-alive, Upgrade\r\n";
    case 4:
        return "Sec-WebSocket-Key: " + std::string(key) + "\r\n";
    case 5:
        // Two empty lines after the version: the server's count needs one more line than
        // the six this request has.
        return "Sec-WebSocket-Version: 13\r\n\r\n\r\n";
    default:
        return "";
    }
}
