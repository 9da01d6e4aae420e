#pragma once
// The opening handshake of the remote connection, both sides: the accept value, the
// server's reading of the request lines and the client's reading of the response lines.
// The request must carry a fixed set of header lines (matched as prefixes); the response
// is checked against the accept value of the key the client sent.
#include <cstddef>
#include <string>
#include <string_view>

// The longest client key kept (the key slot holds 99 characters and a terminating zero).
constexpr size_t WS_KEY_MAX = 99;

// Base64 (standard alphabet, padded) of the SHA-1 digest of key followed by the fixed GUID.
std::string wsAcceptKey(std::string_view key);
// Base64 of bytes (the client's key from its 16 random bytes).
std::string wsBase64(const unsigned char* bytes, size_t length);

// The server's progress through the request. Every recognised header line and every empty
// line counts; the request is complete when the count passes 7.
struct WsRequestState {
    int progress = 0;
    std::string key;
    bool keyTooLong = false;
};
// Feeds one line (with its line end) to the request; returns 1 when the request is
// complete, -1 when it is refused (a key longer than WS_KEY_MAX), 0 while more lines are
// needed. A line that does not end with a line feed does not count.
int wsRequestLine(WsRequestState& state, std::string_view line);
// The lines of the server's answer for a complete request, in the order they are written.
std::string wsResponse(const WsRequestState& state);

// The client's progress through the response: recognised lines and empty lines count; the
// response is complete when the count passes 5. A wrong accept value fails it.
struct WsResponseState {
    int progress = 0;
    bool failed = false;
};
// Feeds one line of the response; returns 1 when complete, -1 when failed, 0 otherwise.
int wsResponseLine(WsResponseState& state, std::string_view line, std::string_view clientKey);
// The client's request lines for server:port and key (one entry per write).
std::string wsRequestLineText(int index, const char* server, int port, std::string_view key);
constexpr int WS_REQUEST_LINES = 6;
