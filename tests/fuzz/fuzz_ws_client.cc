// Fuzzes the client's side of a connection: the response lines, then the server's frames
// acted on as the client thread does, until one ends the connection. The first byte sets
// the bytes per read. The response reader never accepts a wrong accept value, and every
// frame fits its buffer.
#include "fuzz_ws_support.h"
#include "remote/ws_handshake.h"
#include "remote/ws_inbound.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::WsFuzzUnit unit;
    if (size == 0)
        return 0;
    unit.reset();
    const size_t step = 1 + data[0] % 64;
    const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
    WsByteReader reader(fuzz::bytesSource(data + 1, size - 1, step));
    WsResponseState state;
    std::string line;
    int r = 0;
    while (r == 0 && reader.readLine(line))
        r = wsResponseLine(state, line, key);
    if (r != 1)
        return 0;
    WsConnection connection;
    connection.works = unit.works.get();
    connection.role = WsRole::Client;
    connection.authenticated = true;
    WsFrame frame;
    for (;;) {
        int readStep = 0;
        if (wsReadFrame(reader, frame, readStep) != WsReadResult::Ok)
            break;
        if (frame.size > WS_FRAME_MAX || frame.payloadOffset + frame.payloadLength > frame.size)
            fuzz::fail("frame of %zu bytes, payload %zu+%zu", frame.size, frame.payloadOffset, frame.payloadLength);
        if (wsHandleFrame(connection, frame) != 0)
            break;
        fuzz::WsFuzzUnit::drain(unit.ser[0]);
        fuzz::WsFuzzUnit::drain(unit.cat[0]);
    }
    return 0;
}
