#include "remote/ws_frames.h"

#include "core/works.h"
#include "platform/log.h"
#include "remote/audio.h"
#include "remote/ws_reader.h"
#include "remote/ws_socket.h"
#include "transceiver/peer_link.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <mutex>
#include <opus/opus.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint8_t BINARY_FRAME = 0x82;
constexpr uint8_t LONG_FORM = 0x7E;

void pauseBeforeFrame()
{
    std::this_thread::sleep_for(std::chrono::microseconds(10));
}

// Sends one frame to the authenticated peer; -1 when none is connected or the write fails.
long sendToPeer(Works* works, const unsigned char* frame, size_t length)
{
    if (!works || !works->wsConnected || !works->sendMut)
        return -1;
    pauseBeforeFrame();
    std::lock_guard<std::mutex> lock(*works->sendMut);
    if (!works->wsConnected || works->wsSock < 0)
        return -1;
    // A peer that took part of a frame (or none, within the send timeout) cannot read the
    // rest of the stream in step: the socket is shut down and its reader ends it.
    const long n = wsWriteAll(works->wsSock, frame, length);
    if (n < 0)
        ::shutdown(works->wsSock, SHUT_RDWR);
    return n;
}

// The short form: 0x82, tag and data length, the tag, the data.
long sendShortFrame(Works* works, const char* tag, const unsigned char* data, size_t length)
{
    if (!works || !works->wsConnected)
        return -1;
    if (length > WS_SHORT_DATA_MAX) {
        logSys(LOG_ERR, "%s frame of %d bytes refused (at most %d)", tag, static_cast<int>(length),
               static_cast<int>(WS_SHORT_DATA_MAX));
        return -1;
    }
    std::array<unsigned char, WS_SHORT_DATA_MAX + 4> frame{};
    frame[0] = BINARY_FRAME;
    frame[1] = static_cast<unsigned char>(length + 2);
    frame[2] = static_cast<unsigned char>(tag[0]);
    frame[3] = static_cast<unsigned char>(tag[1]);
    if (length > 0)
        std::memcpy(frame.data() + 4, data, length);
    return sendToPeer(works, frame.data(), length + 4);
}

void putBe16(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

void putBe32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

} // namespace

int sendWebSockStatusFrame(Works* works, const char* buffer, size_t length)
{
    return sendShortFrame(works, "ST", reinterpret_cast<const unsigned char*>(buffer), length) > 0 ? 0 : -1;
}

void sendWebSockSerParFrame(Works* works, const unsigned char* data, size_t length)
{
    sendShortFrame(works, "PA", data, length);
}

void sendWebSockCatFrame(Works* works, const unsigned char* data, size_t length)
{
    sendShortFrame(works, "CA", data, length);
}

void sendWebSockSerSpectrFrame(Works* works, const unsigned char* data, size_t length)
{
    if (!works || !works->wsConnected)
        return;
    std::array<unsigned char, 14 + WS_SPECTRUM_CHUNK> chunk{};
    const uint32_t total = static_cast<uint32_t>(length);
    for (uint32_t offset = 0; offset < total; offset += WS_SPECTRUM_CHUNK) {
        chunk.fill(0);
        chunk[0] = BINARY_FRAME;
        chunk[1] = LONG_FORM;
        putBe16(&chunk[2], 10 + WS_SPECTRUM_CHUNK);
        chunk[4] = 'S';
        chunk[5] = 'P';
        putBe32(&chunk[6], total);
        putBe32(&chunk[10], offset);
        std::memcpy(&chunk[14], data + offset, std::min<size_t>(WS_SPECTRUM_CHUNK, total - offset));
        // A failed chunk drops the rest of the line.
        if (sendToPeer(works, chunk.data(), chunk.size()) < 0)
            return;
    }
}

void sendWebSockAudioFrame(Works* works, const unsigned char* samples)
{
    if (!works || !works->wsConnected)
        return;
    const int frameSamples = works->audioFrameSamples;
    const size_t rawBytes = static_cast<size_t>(std::max(frameSamples, 0)) * 4;
    if (frameSamples <= 0 || rawBytes > WS_AUDIO_PAYLOAD_MAX) {
        logSys(LOG_ERR, "audio frame of %d samples refused", frameSamples);
        return;
    }
    // Header (10 bytes) and payload built in one buffer of this thread (the capture
    // callback's): nothing is allocated per frame.
    thread_local std::array<unsigned char, 10 + WS_AUDIO_PAYLOAD_MAX> frame;
    thread_local std::array<opus_int16, WS_AUDIO_PAYLOAD_MAX / 2> pcm;
    size_t length = 0;
    if (works->audioBitrate != 0) {
        if (!works->opusEnc) {
            logErr("encode failed: %s\n", "no encoder");
            return;
        }
        // Samples arrive little-endian, low byte first.
        for (size_t i = 0; i < static_cast<size_t>(frameSamples) * 2; ++i)
            pcm[i] = static_cast<opus_int16>(samples[2 * i] | samples[2 * i + 1] << 8);
        const int n = opus_encode(works->opusEnc, pcm.data(), frameSamples, frame.data() + 10,
                                  static_cast<opus_int32>(rawBytes));
        if (n < 0) {
            logErr("encode failed: %s\n", opus_strerror(n));
            return;
        }
        length = static_cast<size_t>(n);
    } else {
        std::memcpy(frame.data() + 10, samples, rawBytes);
        length = rawBytes;
    }
    if (length == 0)
        return;
    frame[0] = BINARY_FRAME;
    frame[1] = LONG_FORM;
    putBe16(&frame[2], static_cast<uint32_t>(length + 6));
    frame[4] = 'S';
    frame[5] = 'O';
    putBe32(&frame[6], static_cast<uint32_t>(length));
    const long rc = sendToPeer(works, frame.data(), length + 10);
    if (rc != static_cast<long>(length + 10))
        logSys(LOG_ERR, "rc(%ld) != length+10(%d)", rc, static_cast<int>(length + 10));
}

void wsPublishPeer(Works* works, int fd)
{
    std::lock_guard<std::mutex> lock(*works->sendMut);
    works->wsSock = fd;
    works->wsConnected = 1;
}

void wsRetirePeer(Works* works, int fd)
{
    {
        std::lock_guard<std::mutex> lock(*works->sendMut);
        works->wsConnected = 0;
        works->wsSock = -1;
    }
    if (fd >= 0 && ::close(fd) != 0)
        logSys(LOG_ERR, "TCP close Error");
}

void installPeerLink()
{
    PeerLink link;
    link.parameters = sendWebSockSerParFrame;
    link.spectrum = sendWebSockSerSpectrFrame;
    link.cat = sendWebSockCatFrame;
    link.soundInterfaces = VerifyAudioIXO;
    setPeerLink(link);
}
