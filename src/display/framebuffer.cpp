#include "display/framebuffer.h"

#include "core/works.h"
#include "display/display_log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Hides the console text cursor. In a simulated root without a console, or with something
// there that could block an open (a FIFO), nothing is run.
void hideCursor()
{
    const std::string tty = mapPath("/dev/tty0");
    struct stat st {};
    if (stat(tty.c_str(), &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISREG(st.st_mode)))
        return;
    runShell("/bin/echo -e -n '\x1b[?25l' >/dev/tty0");
}

unsigned char* allocBuffer(unsigned int size)
{
    return static_cast<unsigned char*>(std::malloc(size ? size : 1));
}

FrameBuffer* newRecord()
{
    return new (std::nothrow) FrameBuffer{};
}

// Every row counts as changed at the start: nothing is known of the buffers' contents.
void startRowTracking(FrameBuffer* fb)
{
    const size_t rows = static_cast<size_t>(fb->sizeY > 0 ? fb->sizeY : 0);
    const FrameBuffer::Span whole{0, fb->sizeX - 1};
    fb->drawnSpans.assign(rows, whole);
    fb->backSpans.assign(rows, whole);
    fb->unpresentedSpans.assign(rows, whole);
}

// Steps 7 and 8 once the geometry is known: map the screen, allocate the two buffers.
FrameBuffer* finishRecord(FrameBuffer* fb, int fd, unsigned int xres, unsigned int yres,
                          unsigned int bits, unsigned int pixelSize)
{
    const unsigned int memSize = xres * yres * bits / 8;
    void* mem = mmap(nullptr, memSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mem == MAP_FAILED) {
        displayLog(LOG_ERR, "Unable to map shared memory\n");
        displayLog(LOG_ERR, "Make sure, that you have compiled shared memory support into your kernel.\n");
        close(fd);
        delete fb;
        return nullptr;
    }
    fb->sizeX = static_cast<int>(xres & 0xFFFF);
    fb->sizeY = static_cast<int>(yres & 0xFFFF);
    fb->pixelSize = pixelSize;
    fb->lineSize = static_cast<unsigned int>(fb->sizeX) * pixelSize;
    fb->memSize = memSize;
    fb->screenMem = static_cast<unsigned char*>(mem);
    fb->drawBuf = allocBuffer(memSize);
    fb->backBuf = allocBuffer(memSize);
    fb->fd = fd;
    fb->headless = 0;
    startRowTracking(fb);
    if (!fb->drawBuf || !fb->backBuf) {
        displayLog(LOG_ERR, "Unable to allocate framebuffer structure");
        munmap(mem, memSize);
        close(fd);
        std::free(fb->drawBuf);
        std::free(fb->backBuf);
        delete fb;
        return nullptr;
    }
    displayLog(LOG_INFO, "Screen Size x: %d, y: %d, Pixel Size %d Line size: %d, Mem size: %d\n",
           fb->sizeX, fb->sizeY, fb->pixelSize, fb->lineSize, fb->memSize);
    return fb;
}

// The simulated panel: a regular file of 800 x 480 x 4 bytes, mapped shared. A shorter
// file is extended to that size so that no access past its end can fault.
FrameBuffer* initSimulatedPanel(FrameBuffer* fb, int fd, const char* path)
{
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(SIM_PANEL_BYTES)) {
        if (ftruncate(fd, SIM_PANEL_BYTES) != 0) {
            displayLog(LOG_ERR, "Unable to size simulated panel %s: %s", path, strerror(errno));
            close(fd);
            delete fb;
            return nullptr;
        }
    }
    displayLog(LOG_INFO, "Simulated panel %s", path);
    displayLog(LOG_INFO, "Pixel size =%d", 4);
    return finishRecord(fb, fd, SIM_PANEL_WIDTH, SIM_PANEL_HEIGHT, 32, 4);
}

FrameBuffer* headlessRecord()
{
    FrameBuffer* fb = fbCreateInMemory(SIM_PANEL_WIDTH, SIM_PANEL_HEIGHT, 4);
    if (!fb)
        displayLog(LOG_ERR, "Unable to allocate framebuffer structure");
    return fb;
}

inline unsigned char* target(FrameBuffer* fb, int toBack)
{
    return toBack ? fb->backBuf : fb->drawBuf;
}

// Stores one pixel at a byte offset already known to be inside the buffer.
inline void putPixel(unsigned char* p, unsigned int pixelSize, int red, int green, int blue)
{
    if (pixelSize == 4) {
        p[0] = static_cast<unsigned char>(blue);
        p[1] = static_cast<unsigned char>(green);
        p[2] = static_cast<unsigned char>(red);
        p[3] = 0;
    } else if (pixelSize == 2) {
        p[0] = static_cast<unsigned char>((((green & 0x1C) << 3) | ((blue & 0xFF) >> 3)));
        p[1] = static_cast<unsigned char>(((((red & 0xFF) >> 3) << 3) | ((green & 0xFF) >> 5)));
    }
}

} // namespace

unsigned int fbPixelSizeFromBits(unsigned int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 4:
    case 8:
        return 1;
    case 5:
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

FrameBuffer* fbInitDevice(const char* path)
{
    FrameBuffer* fb = newRecord();
    if (!fb) {
        displayLog(LOG_ERR, "Unable to allocate framebuffer structure");
        return nullptr;
    }
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        displayLog(LOG_ERR, "Unable to read framebuffer device: /dev/fb0\n");
        delete fb;
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        return initSimulatedPanel(fb, fd, path);

    fb_var_screeninfo info {};
    if (ioctl(fd, FBIOGET_VSCREENINFO, &info) != 0) {
        displayLog(LOG_ERR, "Unable to read screen info.\n");
        displayLog(LOG_ERR, "Do you have read+write privilages to /dev/fb0?\n");
        close(fd);
        delete fb;
        return nullptr;
    }
    info.xoffset = 0;
    info.yoffset = 0;
    if (ioctl(fd, FBIOPUT_VSCREENINFO, &info) != 0) {
        displayLog(LOG_ERR, "Unable to change screen data\n");
        displayLog(LOG_ERR, "Do you have write privilages to /dev/fb0?\n");
        displayLog(LOG_ERR, "Does your video card support double buffering?\n");
        close(fd);
        delete fb;
        return nullptr;
    }
    const unsigned int pixelSize = fbPixelSizeFromBits(info.bits_per_pixel);
    if (pixelSize == 0) {
        displayLog(LOG_ERR, "Unknown pixel format");
        close(fd);
        delete fb;
        return nullptr;
    }
    displayLog(LOG_INFO, "Pixel size =%d", pixelSize);
    return finishRecord(fb, fd, info.xres, info.yres, info.bits_per_pixel, pixelSize);
}

FrameBuffer* fbInit()
{
    hideCursor();
    const std::string path = mapPath("/dev/fb0");
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        displayLog(LOG_INFO, "No framebuffer at %s: running headless", path.c_str());
        return headlessRecord();
    }
    FrameBuffer* fb = fbInitDevice(path.c_str());
    if (fb)
        return fb;
    // Every drawing caller expects a record: with an unusable device the program goes on
    // without a display rather than crash on the first frame.
    displayLog(LOG_ERR, "Framebuffer %s unusable: running headless", path.c_str());
    return headlessRecord();
}

FrameBuffer* fbCreateInMemory(int sizeX, int sizeY, unsigned int pixelSize)
{
    if (sizeX <= 0 || sizeY <= 0 || pixelSize == 0 || pixelSize > 4)
        return nullptr;
    FrameBuffer* fb = newRecord();
    if (!fb)
        return nullptr;
    fb->sizeX = sizeX;
    fb->sizeY = sizeY;
    fb->pixelSize = pixelSize;
    fb->lineSize = static_cast<unsigned int>(sizeX) * pixelSize;
    fb->memSize = fb->lineSize * static_cast<unsigned int>(sizeY);
    fb->screenMem = static_cast<unsigned char*>(std::calloc(fb->memSize, 1));
    fb->drawBuf = static_cast<unsigned char*>(std::calloc(fb->memSize, 1));
    fb->backBuf = static_cast<unsigned char*>(std::calloc(fb->memSize, 1));
    fb->headless = 1;
    startRowTracking(fb);
    if (!fb->screenMem || !fb->drawBuf || !fb->backBuf) {
        fbDestroy(fb);
        return nullptr;
    }
    return fb;
}

void fbDestroy(FrameBuffer* fb)
{
    if (!fb)
        return;
    if (fb->headless) {
        std::free(fb->screenMem);
    } else {
        munmap(fb->screenMem, fb->memSize);
        if (fb->fd >= 0)
            close(fb->fd);
    }
    std::free(fb->drawBuf);
    std::free(fb->backBuf);
    delete fb;
}

void fbMarkSpan(FrameBuffer* fb, int toBack, int64_t y, int64_t x0, int64_t x1)
{
    if (y < 0 || y >= static_cast<int64_t>(fb->drawnSpans.size()))
        return;
    const int from = static_cast<int>(std::max<int64_t>(x0, 0));
    const int to = static_cast<int>(std::min<int64_t>(x1, fb->sizeX - 1));
    if (from > to)
        return;
    const size_t row = static_cast<size_t>(y);
    if (toBack) {
        fb->backSpans[row].add(from, to);
    } else {
        fb->drawnSpans[row].add(from, to);
        fb->unpresentedSpans[row].add(from, to);
    }
}

void fbMarkRows(FrameBuffer* fb, int toBack, int64_t y0, int64_t y1)
{
    for (int64_t y = std::max<int64_t>(y0, 0); y <= y1 && y < fb->sizeY; ++y)
        fbMarkSpan(fb, toBack, y, 0, fb->sizeX - 1);
}

void fbRealize(FrameBuffer* fb)
{
    if (!fb)
        return;
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    const size_t line = fb->lineSize;
    const size_t ps = fb->pixelSize;
    for (size_t y = 0; y < fb->unpresentedSpans.size(); ++y) {
        FrameBuffer::Span& span = fb->unpresentedSpans[y];
        if (span.empty())
            continue;
        const size_t at = y * line + static_cast<size_t>(span.lo) * ps;
        const size_t bytes = static_cast<size_t>(span.hi - span.lo + 1) * ps;
        span = {};
        if (std::memcmp(fb->screenMem + at, fb->drawBuf + at, bytes) != 0) {
            std::memcpy(fb->screenMem + at, fb->drawBuf + at, bytes);
            ++fb->rowsPresented;
        }
    }
}

void fbSetBack(FrameBuffer* fb)
{
    if (!fb)
        return;
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    std::memcpy(fb->drawBuf, fb->backBuf, fb->memSize);
    const FrameBuffer::Span whole{0, fb->sizeX - 1};
    std::fill(fb->drawnSpans.begin(), fb->drawnSpans.end(), FrameBuffer::Span{});
    std::fill(fb->backSpans.begin(), fb->backSpans.end(), FrameBuffer::Span{});
    std::fill(fb->unpresentedSpans.begin(), fb->unpresentedSpans.end(), whole);
}

void fbRestoreChanged(FrameBuffer* fb)
{
    if (!fb)
        return;
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    const size_t line = fb->lineSize;
    const size_t ps = fb->pixelSize;
    for (size_t y = 0; y < fb->drawnSpans.size(); ++y) {
        FrameBuffer::Span span = fb->drawnSpans[y];
        const FrameBuffer::Span back = fb->backSpans[y];
        if (!back.empty())
            span.add(back.lo, back.hi);
        if (span.empty())
            continue;
        const size_t at = y * line + static_cast<size_t>(span.lo) * ps;
        std::memcpy(fb->drawBuf + at, fb->backBuf + at, static_cast<size_t>(span.hi - span.lo + 1) * ps);
        fb->drawnSpans[y] = {};
        fb->backSpans[y] = {};
        fb->unpresentedSpans[y].add(span.lo, span.hi);
    }
}

void DrawHorizontalLine(int xStart, int y, int xEnd, int red, int green, int blue,
                        FrameBuffer* fb, int toBack)
{
    if (!fb || xEnd <= xStart || (fb->pixelSize != 4 && fb->pixelSize != 2))
        return;
    // The Part leaves this primitive unclipped; we keep it inside the screen all the same,
    // which changes nothing for the on-screen coordinates its callers pass.
    if (y < 0 || y >= fb->sizeY)
        return;
    if (xStart < 0)
        xStart = 0;
    if (xEnd > fb->sizeX)
        xEnd = fb->sizeX;
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    fbMarkSpan(fb, toBack, y, xStart, xEnd - 1);
    unsigned char* p = target(fb, toBack) + static_cast<size_t>(y) * fb->lineSize +
                       static_cast<size_t>(xStart) * fb->pixelSize;
    if (fb->pixelSize == 4) {
        // The row's pixels are whole 32-bit words: one word, filled along the row.
        unsigned char bytes[4];
        putPixel(bytes, 4, red, green, blue);
        uint32_t word;
        std::memcpy(&word, bytes, 4);
        std::fill_n(reinterpret_cast<uint32_t*>(p), xEnd - xStart, word);
        return;
    }
    for (int x = xStart; x < xEnd; ++x, p += fb->pixelSize)
        putPixel(p, fb->pixelSize, red, green, blue);
}

void DrawLine(int x0, int y0, int x1, int y1, int red, int green, int blue,
              FrameBuffer* fb, int toBack)
{
    if (!fb || (x0 == x1 && y0 == y1))
        return;
    const unsigned int ps = fb->pixelSize;
    if (ps != 4 && ps != 2)
        return;
    unsigned char* buf = target(fb, toBack);
    const int64_t line = fb->lineSize;
    const int64_t limit = static_cast<int64_t>(fb->memSize) - ps;
    const int width = fb->sizeX;
    auto plot = [&](int x, int y) {
        const int64_t o = static_cast<int64_t>(y) * line + static_cast<int64_t>(x) * ps;
        if (o >= 0 && o < limit) {
            putPixel(buf + o, ps, red, green, blue);
            // A pixel off the left or right edge lands on the row before or after.
            if (x >= 0 && x < width)
                fbMarkSpan(fb, toBack, y, x, x);
            else
                fbMarkSpan(fb, toBack, o / line, (o % line) / ps, (o % line) / ps);
        }
    };

    int64_t dx = static_cast<int64_t>(x1) - x0;
    int64_t dy = static_cast<int64_t>(y1) - y0;
    const int sx = dx > 0 ? 1 : -1;
    const int sy = dy > 0 ? 1 : -1;
    dx = dx < 0 ? -dx : dx;
    dy = dy < 0 ? -dy : dy;
    int x = x0;
    int y = y0;
    std::lock_guard<std::mutex> lock(fb->bufferLock);
    if (dy <= dx) {
        int64_t err = 2 * dy - dx;
        for (int64_t n = 0; n <= dx; ++n) {
            plot(x, y);
            while (err >= 0) {
                y += sy;
                err -= 2 * dx;
            }
            x += sx;
            err += 2 * dy;
        }
    } else {
        int64_t err = 2 * dx - dy;
        for (int64_t n = 0; n <= dy; ++n) {
            plot(x, y);
            while (err >= 0) {
                x += sx;
                err -= 2 * dy;
            }
            y += sy;
            err += 2 * dx;
        }
    }
}

void DrawRect(Works* works, int x0, int y0, int x1, int y1, int red, int green, int blue)
{
    if (!works || !works->fb)
        return;
    FrameBuffer* fb = works->fb;
    DrawLine(x0, y0, x0, y1, red, green, blue, fb, 0);
    DrawLine(x1, y0, x1, y1, red, green, blue, fb, 0);
    DrawHorizontalLine(x0, y0, x1, red, green, blue, fb, 0);
    DrawHorizontalLine(x0, y1, x1, red, green, blue, fb, 0);
}
