// Fuzzes the picture loader: the input is the PNG file. A refused picture leaves both
// buffers as they were; a placed one changes only the pixels of its rectangle (clipped to
// the screen), each as blue, green, red, 0. A valid seed picture is written into an empty
// corpus directory at start, so that runs begin from a PNG the loader accepts, and the
// checksums of the input's chunks are put right before the file is written, so that
// mutations reach the decoding instead of ending at libpng's checksum test.
#include "display/framebuffer.h"
#include "display/picture.h"
#include "display/snapshot.h"
#include "fuzz_support.h"

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

constexpr int WIDTH = 48;
constexpr int HEIGHT = 32;
constexpr unsigned char DRAW_FILL = 0xCD;
constexpr unsigned char BACK_FILL = 0xAB;

uint32_t bigEndian(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint32_t crc32Of(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Walks the chunks after the signature (length, type, data, checksum) and rewrites each
// whole chunk's checksum over its type and data.
void fixChunkChecksums(std::vector<uint8_t>& png)
{
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t length = bigEndian(png.data() + at);
        if (length > png.size() - at - 12)
            break;
        const uint32_t crc = crc32Of(png.data() + at + 4, length + 4);
        uint8_t* out = png.data() + at + 8 + length;
        for (int k = 0; k < 4; ++k)
            out[k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
        at += 12 + length;
    }
}

bool allBytes(const unsigned char* buf, size_t n, unsigned char value)
{
    for (size_t i = 0; i < n; ++i)
        if (buf[i] != value)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    for (int i = 1; i < *argc; ++i) {
        const char* arg = (*argv)[i];
        std::error_code ec;
        if (arg[0] == '-' || !std::filesystem::is_directory(arg, ec) || !std::filesystem::is_empty(arg, ec))
            continue;
        const std::string seed = std::string(arg) + "/seed.png";
        writePngRows(seed.c_str(), 5, 3, true, [](int y, unsigned char* row) {
            for (int x = 0; x < 5; ++x) {
                unsigned char* px = row + x * 4;
                px[0] = static_cast<unsigned char>(40 * x);
                px[1] = static_cast<unsigned char>(80 * y);
                px[2] = 7;
                px[3] = 255;
            }
        });
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> png(data, data + size);
    fixChunkChecksums(png);
    fuzz::writeSettings("picture.png", png.data(), png.size());
    // The loader maps an absolute name into the scratch root, as it does on the unit.
    const char* name = "/picture";
    static FrameBuffer* fb = fbCreateInMemory(WIDTH, HEIGHT, 4);
    memset(fb->drawBuf, DRAW_FILL, fb->memSize);
    memset(fb->backBuf, BACK_FILL, fb->memSize);

    // The placement varies with the input's length: inside, and cut at each edge.
    const int x = static_cast<int>(size % 11) * 5 - 10;
    const int y = static_cast<int>(size / 11 % 9) * 5 - 10;
    const int toBack = static_cast<int>(size / 99 % 2);
    const int result = loadPngInto(name, x, y, fb, toBack);

    unsigned char* target = toBack ? fb->backBuf : fb->drawBuf;
    const unsigned char fill = toBack ? BACK_FILL : DRAW_FILL;
    const unsigned char* other = toBack ? fb->drawBuf : fb->backBuf;
    if (!allBytes(other, fb->memSize, toBack ? DRAW_FILL : BACK_FILL))
        fuzz::fail("the other buffer changed");
    if (result != 0) {
        if (!allBytes(target, fb->memSize, fill))
            fuzz::fail("a refused picture changed the buffer");
        return 0;
    }
    if (size < 24)
        fuzz::fail("a picture of %zu bytes was placed", size);
    const int64_t w = bigEndian(png.data() + 16);
    const int64_t h = bigEndian(png.data() + 20);
    if (w > WIDTH || h > HEIGHT)
        fuzz::fail("a picture of %lld x %lld was placed on %d x %d", static_cast<long long>(w),
                   static_cast<long long>(h), WIDTH, HEIGHT);
    for (int row = 0; row < HEIGHT; ++row) {
        for (int col = 0; col < WIDTH; ++col) {
            const unsigned char* px = target + row * fb->lineSize + col * 4;
            const bool inside = col >= x && col < x + w && row >= y && row < y + h;
            if (inside ? px[3] != 0 : !allBytes(px, 4, fill))
                fuzz::fail("pixel %d,%d (picture %lld x %lld at %d,%d)", col, row, static_cast<long long>(w),
                           static_cast<long long>(h), x, y);
        }
    }
    return 0;
}
