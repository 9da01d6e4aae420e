#include "remote/ws_picture.h"

#include "core/works.h"
#include "display/framebuffer.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <turbojpeg.h>

namespace {

uint32_t be32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};

} // namespace

int Uncompress(Works* works, const unsigned char* data, size_t length)
{
    FrameBuffer* fb = works ? works->fb : nullptr;
    if (!fb || !fb->drawBuf || fb->pixelSize != 4) {
        logSys(LOG_ERR, "picture refused: the screen has no 32-bit working buffer");
        return -1;
    }
    std::unique_ptr<void, TjDeleter> handle(tjInitDecompress());
    if (!handle) {
        logSys(LOG_ERR, "JPEG decoder cannot start: %s", tjGetErrorStr2(nullptr));
        return -1;
    }
    int width = 0, height = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, static_cast<unsigned long>(length), &width, &height, &subsamp,
                            &colorspace) != 0) {
        logSys(LOG_ERR, "picture of %d bytes is not a JPEG: %s", static_cast<int>(length),
               tjGetErrorStr2(handle.get()));
        return -1;
    }
    if (width != fb->sizeX || height != fb->sizeY) {
        logSys(LOG_ERR, "picture of %dx%d refused: the screen is %dx%d", width, height, fb->sizeX, fb->sizeY);
        return -1;
    }
    // Decoded into a buffer of its own first: a picture that fails half way never reaches
    // the screen.
    std::vector<unsigned char> pixels(static_cast<size_t>(fb->memSize));
    if (tjDecompress2(handle.get(), data, static_cast<unsigned long>(length), pixels.data(), width,
                      static_cast<int>(fb->lineSize), height, TJPF_BGRX, TJFLAG_ACCURATEDCT) != 0) {
        logSys(LOG_ERR, "picture does not decode: %s", tjGetErrorStr2(handle.get()));
        return -1;
    }
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    std::memcpy(fb->drawBuf, pixels.data(), fb->memSize);
    fbMarkRows(fb, 0, 0, fb->sizeY - 1);
    return 0;
}

int pictureChunk(Works* works, PictureAssembly& picture, std::span<const unsigned char> fields)
{
    FrameBuffer* fb = works ? works->fb : nullptr;
    if (fields.size() < 8) {
        logSys(LOG_ERR, "picture chunk of %d bytes has no total and offset", static_cast<int>(fields.size()));
        return -1;
    }
    const uint32_t total = be32(fields.data());
    const uint32_t offset = be32(fields.data() + 4);
    const std::span<const unsigned char> bytes = fields.subspan(8);
    const size_t screenBytes = fb ? fb->memSize : 0;
    if (total == 0 || total > screenBytes || offset >= total) {
        logSys(LOG_ERR, "picture chunk refused: total %u, offset %u, screen %d bytes", total, offset,
               static_cast<int>(screenBytes));
        return -1;
    }
    const size_t count = std::min<size_t>(WS_PICTURE_CHUNK, total - offset);
    if (bytes.size() < count) {
        logSys(LOG_ERR, "picture chunk at %u carries %d of %d bytes", offset, static_cast<int>(bytes.size()),
               static_cast<int>(count));
        return -1;
    }
    if (picture.data.size() != screenBytes)
        picture.data.assign(screenBytes, 0);
    std::memcpy(picture.data.data() + offset, bytes.data(), count);
    if (offset + WS_PICTURE_CHUNK < total)
        return 0;  // more chunks follow
    if (total == screenBytes) {
        std::lock_guard<std::mutex> lock(fb->bufferLock);
        std::memcpy(fb->drawBuf, picture.data.data(), screenBytes);
        fbMarkRows(fb, 0, 0, fb->sizeY - 1);
    } else if (Uncompress(works, picture.data.data(), total) != 0) {
        return -2;
    }
    fbRealize(fb);
    return 0;
}
