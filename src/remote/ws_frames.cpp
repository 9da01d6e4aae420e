#include "remote/ws_frames.h"

#include "core/works.h"

int sendWebSockStatusFrame(Works*, const char*, size_t)
{
    // The frame writer of the WebSocket server is not built yet: nothing is sent.
    return -1;
}
