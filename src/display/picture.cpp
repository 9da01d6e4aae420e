#include "display/picture.h"

#include "core/works.h"
#include "display/framebuffer.h"
#include "display/display_log.h"
#include "platform/paths.h"

#include <csetjmp>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <png.h>
#include <string>

namespace {

// Decoding state kept out of the setjmp frame so that a longjmp from libpng leaves
// nothing behind that a destructor would have to release.
struct PngRead {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep* rows = nullptr;
    png_uint_32 height = 0;
};

void release(PngRead& r)
{
    if (r.rows) {
        for (png_uint_32 i = 0; i < r.height; ++i)
            std::free(r.rows[i]);
        std::free(r.rows);
        r.rows = nullptr;
    }
    if (r.png)
        png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr);
    r.png = nullptr;
    r.info = nullptr;
    if (r.file)
        std::fclose(r.file);
    r.file = nullptr;
}

// libpng's own warnings stay quiet; errors end in our longjmp with the Part's message.
void pngWarning(png_structp, png_const_charp) {}

// Reads the header and checks the picture against the screen. Returns 0 on success;
// a libpng error during init_io is logged here.
int readHeader(PngRead& r, const char* name)
{
    if (setjmp(png_jmpbuf(r.png))) {
        displayLog(LOG_ERR, "%s error during init_io", name);
        return -1;
    }
    png_init_io(r.png, r.file);
    png_set_sig_bytes(r.png, 8);
    png_read_info(r.png, r.info);
    return 0;
}

int readImage(PngRead& r, const char* name)
{
    if (setjmp(png_jmpbuf(r.png))) {
        displayLog(LOG_ERR, "%s error during reading image", name);
        return -1;
    }
    png_read_update_info(r.png, r.info);
    r.rows = static_cast<png_bytep*>(std::calloc(r.height ? r.height : 1, sizeof(png_bytep)));
    if (!r.rows) {
        displayLog(LOG_ERR, "%s unable to alloc row_pointers for image", name);
        return -1;
    }
    const size_t rowBytes = png_get_rowbytes(r.png, r.info);
    for (png_uint_32 i = 0; i < r.height; ++i) {
        r.rows[i] = static_cast<png_bytep>(std::malloc(rowBytes ? rowBytes : 1));
        if (!r.rows[i]) {
            displayLog(LOG_ERR, "%s unable to alloc row_pointers[%d] for image", name,
                   static_cast<int>(i));
            return -1;
        }
    }
    png_read_image(r.png, r.rows);
    return 0;
}

} // namespace

int loadPngInto(const char* imgName, int imgX, int imgY, FrameBuffer* fb, int toBack)
{
    if (!imgName || !fb)
        return -1;
    char name[256];
    std::snprintf(name, sizeof name, "%s.png", imgName);

    PngRead r;
    r.file = std::fopen(mapPath(name).c_str(), "rb");
    if (!r.file) {
        displayLog(LOG_ERR, "%s image could not be opened", name);
        return -1;
    }
    unsigned char header[8] = {};
    if (std::fread(header, 1, 8, r.file) != 8 || png_sig_cmp(header, 0, 8) != 0) {
        displayLog(LOG_ERR, "%s image is not a PNG file", name);
        release(r);
        return -1;
    }
    // The classic read interface, created for the version of the library we are built with
    // (libpng refuses a structure asked for with another minor version such as "1.2.50").
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, pngWarning);
    if (!r.png) {
        displayLog(LOG_ERR, "%s PNG_create_read_struct failed", name);
        release(r);
        return -1;
    }
    r.info = png_create_info_struct(r.png);
    if (!r.info) {
        displayLog(LOG_ERR, "%s PNG_create_info_struct failed", name);
        release(r);
        return -1;
    }
    if (readHeader(r, name) != 0) {
        release(r);
        return -1;
    }

    const png_uint_32 width = png_get_image_width(r.png, r.info);
    const png_uint_32 height = png_get_image_height(r.png, r.info);
    const int colorType = png_get_color_type(r.png, r.info);
    const int bitDepth = png_get_bit_depth(r.png, r.info);
    if (width > static_cast<png_uint_32>(fb->sizeX)) {
        displayLog(LOG_ERR, "%s image has %d cols not %d", name, static_cast<int>(width), fb->sizeX);
        release(r);
        return -1;
    }
    if (height > static_cast<png_uint_32>(fb->sizeY)) {
        displayLog(LOG_ERR, "%s image has %d rows not %d", name, static_cast<int>(height), fb->sizeY);
        release(r);
        return -1;
    }
    if (!(bitDepth == 8 && fb->pixelSize == 4 && colorType == PNG_COLOR_TYPE_RGBA)) {
        displayLog(LOG_ERR, "%s image has %d pixels not %d or color_type is %d not %d", name, bitDepth,
               static_cast<int>(fb->pixelSize), colorType, PNG_COLOR_TYPE_RGBA);
        release(r);
        return -1;
    }

    r.height = height;
    if (readImage(r, name) != 0) {
        release(r);
        return -1;
    }

    // RGBA rows become blue, green, red, 0; alpha is ignored (pictures are opaque). A
    // picture placed so that it would reach past the screen is cut at the screen's edges.
    std::unique_lock<std::mutex> lock(fb->bufferLock);
    unsigned char* buf = toBack ? fb->backBuf : fb->drawBuf;
    fbMarkRows(fb, toBack, imgY, static_cast<int64_t>(imgY) + height - 1);
    for (png_uint_32 i = 0; i < height; ++i) {
        const int64_t y = static_cast<int64_t>(i) + imgY;
        if (y < 0 || y >= fb->sizeY)
            continue;
        const png_bytep src = r.rows[i];
        unsigned char* dst = buf + y * fb->lineSize;
        for (png_uint_32 p = 0; p < width; ++p) {
            const int64_t x = static_cast<int64_t>(p) + imgX;
            if (x < 0 || x >= fb->sizeX)
                continue;
            unsigned char* d = dst + x * 4;
            const png_bytep s = src + p * 4;
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = 0;
        }
    }
    lock.unlock();
    release(r);
    if (!toBack)
        fbRealize(fb);
    return 0;
}

void getPng(Works* works, int toBack)
{
    if (!works)
        return;
    loadPngInto(works->imgName, works->imgX, works->imgY, works->fb, toBack);
}
