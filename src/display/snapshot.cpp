#include "display/snapshot.h"

#include "display/framebuffer.h"

#include <csetjmp>
#include <mutex>
#include <cstdio>
#include <png.h>
#include <vector>

namespace {

void toRgb(const unsigned char* src, int width, unsigned int pixelSize, unsigned char* dst)
{
    for (int x = 0; x < width; ++x, dst += 3) {
        if (pixelSize == 4) {
            const unsigned char* p = src + x * 4;
            dst[0] = p[2];
            dst[1] = p[1];
            dst[2] = p[0];
        } else {
            const unsigned char* p = src + x * 2;
            const unsigned int v = p[0] | (p[1] << 8);
            const unsigned int r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
            dst[0] = static_cast<unsigned char>((r << 3) | (r >> 2));
            dst[1] = static_cast<unsigned char>((g << 2) | (g >> 4));
            dst[2] = static_cast<unsigned char>((b << 3) | (b >> 2));
        }
    }
}

void appendToVector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void noFlush(png_structp) {}

// Kept apart from the caller so that libpng's longjmp crosses no object with a destructor.
// The PNG goes to the file f, or, without one, appended to *memory at zlib's fastest level.
int writeRows(FILE* f, std::vector<unsigned char>* memory, png_structp png, png_infop info, int width,
              int height, bool withAlpha, const std::function<void(int, unsigned char*)>& fillRow,
              png_bytep row)
{
    if (setjmp(png_jmpbuf(png)))
        return -1;
    if (f) {
        png_init_io(png, f);
    } else {
        png_set_write_fn(png, memory, appendToVector, noFlush);
        png_set_compression_level(png, 1);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 withAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        fillRow(y, row);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return 0;
}

} // namespace

int writePngRows(const char* path, int width, int height, bool withAlpha,
                 const std::function<void(int y, unsigned char* row)>& fillRow)
{
    if (!path || width <= 0 || height <= 0)
        return -1;
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return -1;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(width) * (withAlpha ? 4 : 3));
    int rc = -1;
    if (png && info)
        rc = writeRows(f, nullptr, png, info, width, height, withAlpha, fillRow, row.data());
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f) != 0)
        rc = -1;
    if (rc != 0)
        std::remove(path);
    return rc;
}

int encodeScreenPng(const unsigned char* pixels, int width, int height, unsigned int lineSize,
                    unsigned int pixelSize, std::vector<unsigned char>& out)
{
    out.clear();
    if (!pixels || (pixelSize != 4 && pixelSize != 2) || width <= 0 || height <= 0)
        return -1;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    int rc = -1;
    if (png && info)
        rc = writeRows(nullptr, &out, png, info, width, height, false, [&](int y, unsigned char* r) {
            toRgb(pixels + static_cast<size_t>(y) * lineSize, width, pixelSize, r);
        }, row.data());
    png_destroy_write_struct(&png, &info);
    if (rc != 0)
        out.clear();
    return rc;
}

int writeScreenPng(const unsigned char* pixels, int width, int height, unsigned int lineSize,
                   unsigned int pixelSize, const char* path)
{
    if (!pixels || (pixelSize != 4 && pixelSize != 2))
        return -1;
    return writePngRows(path, width, height, false, [&](int y, unsigned char* row) {
        toRgb(pixels + static_cast<size_t>(y) * lineSize, width, pixelSize, row);
    });
}

int writeFrameBufferPng(FrameBuffer* fb, const char* path)
{
    if (!fb)
        return -1;
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    return writeScreenPng(fb->screenMem, fb->sizeX, fb->sizeY, fb->lineSize, fb->pixelSize, path);
}
