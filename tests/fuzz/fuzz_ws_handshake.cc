// Fuzzes the handshake readers of both ends. The first byte sets how many bytes each read
// hands out; the rest is read as lines, first as a request by the server, then as a
// response by the client. A request ends complete, refused or unfinished; a complete one
// has a key of at most 99 characters and an answer carrying its accept value; the response
// reader fails exactly when an accept line differs from the key's value.
#include "fuzz_ws_support.h"
#include "remote/ws_handshake.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::scratchRoot();
    if (size == 0)
        return 0;
    const size_t step = 1 + data[0] % 64;
    {
        WsByteReader reader(fuzz::bytesSource(data + 1, size - 1, step));
        WsRequestState state;
        std::string line;
        int r = 0;
        while (r == 0 && reader.readLine(line)) {
            if (line.size() >= WS_LINE_MAX)
                fuzz::fail("line of %zu bytes", line.size());
            r = wsRequestLine(state, line);
        }
        if (state.key.size() > WS_KEY_MAX)
            fuzz::fail("key of %zu characters kept", state.key.size());
        if (r == 1 && wsResponse(state).find("Sec-WebSocket-Accept: " + wsAcceptKey(state.key) + "\r\n") == std::string::npos)
            fuzz::fail("answer without the accept value");
    }
    {
        const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
        WsByteReader reader(fuzz::bytesSource(data + 1, size - 1, step));
        WsResponseState state;
        std::string line;
        int r = 0;
        bool wrongAccept = false;
        while (r == 0 && reader.readLine(line)) {
            if (line.starts_with("Sec-WebSocket-Accept: ") && line.back() == '\n') {
                std::string value = line.substr(22);
                for (int i = 0; i < 2 && !value.empty() && (value.back() == '\n' || value.back() == '\r'); ++i)
                    value.pop_back();
                wrongAccept = value != wsAcceptKey(key);
            }
            r = wsResponseLine(state, line, key);
            if ((r == -1) != wrongAccept)
                fuzz::fail("response reader result %d with %s accept line", r, wrongAccept ? "a wrong" : "no wrong");
        }
    }
    return 0;
}
