// Fuzzes the server's inbound frames: reading them from the input and acting on each, as
// the server thread does, until one ends the connection. The first byte sets the bytes per
// read and whether the peer starts authenticated (so that both states are reached without
// the password). Every frame fits its buffer; before the password nothing reaches a port,
// no command runs and no picture is shown; the screen buffers stay in place.
#include "fuzz_ws_support.h"
#include "remote/ws_inbound.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::WsFuzzUnit unit;
    if (size == 0)
        return 0;
    unit.reset();
    Works* works = unit.works.get();
    const size_t step = 1 + (data[0] >> 1) % 64;
    WsConnection connection;
    connection.works = works;
    connection.role = WsRole::Server;
    connection.authenticated = (data[0] & 1) != 0;
    const bool startedAuthenticated = connection.authenticated;
    const std::vector<unsigned char> screenBefore(works->fb->screenMem, works->fb->screenMem + works->fb->memSize);

    WsByteReader reader(fuzz::bytesSource(data + 1, size - 1, step));
    WsFrame frame;
    for (;;) {
        const bool before = connection.authenticated;
        int readStep = 0;
        if (wsReadFrame(reader, frame, readStep) != WsReadResult::Ok)
            break;
        if (frame.size > WS_FRAME_MAX || frame.payloadOffset + frame.payloadLength > frame.size)
            fuzz::fail("frame of %zu bytes, payload %zu+%zu", frame.size, frame.payloadOffset, frame.payloadLength);
        const int r = wsHandleFrame(connection, frame);
        if (!before && (fuzz::WsFuzzUnit::drain(unit.ser[0]) || fuzz::WsFuzzUnit::drain(unit.cat[0]) ||
                        works->wsCmd[0] != 0 || works->divideSetting != 0))
            fuzz::fail("a message acted before the password");
        if (!before && connection.authenticated && frame.kind() != 0x81)
            fuzz::fail("authenticated by a frame of type %x", frame.kind());
        if (r != 0)
            break;
    }
    if (!startedAuthenticated && !connection.authenticated &&
        std::memcmp(screenBefore.data(), works->fb->screenMem, screenBefore.size()) != 0)
        fuzz::fail("the screen changed before the password");
    return 0;
}
