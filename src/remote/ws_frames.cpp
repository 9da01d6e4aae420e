#include "remote/ws_frames.h"

#include "core/works.h"

// The frame writer of the WebSocket server is not built yet: nothing is sent.
int sendWebSockStatusFrame(Works*, const char*, size_t)
{
    return -1;
}

void sendWebSockSerParFrame(Works*, const unsigned char*, size_t) {}

void sendWebSockCatFrame(Works*, const unsigned char*, size_t) {}

void sendWebSockSerSpectrFrame(Works*, const unsigned char*, size_t) {}

void sendWebSockAudioFrame(Works*, const unsigned char*) {}
