#pragma once
// The framebuffer record, the three pixel buffers and the drawing primitives.
// Frames are composed in drawBuf (or backBuf for static parts) and presented with one
// bulk copy by fbRealize; nothing draws into screenMem directly.
//
// Several threads draw (start-up, the screen loop, the buttons, the remote peer's pictures).
// The three buffers are guarded by the record's bufferLock: every primitive here, the
// picture loader and the text renderer hold it while they touch pixels, so no pixel is
// ever written by two threads at once. Frames are not locked as a whole: a frame of one
// thread may still be presented over another's, as before.
#include <cstdint>
#include <mutex>
#include <vector>

struct Works;

struct FrameBuffer {
    int sizeX = 0;                       // visible width in pixels
    int sizeY = 0;                       // visible height in pixels
    unsigned int memSize = 0;            // bytes of one whole picture
    unsigned int lineSize = 0;           // bytes of one pixel row: sizeX * pixelSize
    unsigned int pixelSize = 0;          // bytes per pixel: 1, 2, 3 or 4
    unsigned char* screenMem = nullptr;  // the device memory (or the simulated panel, or plain memory)
    unsigned char* drawBuf = nullptr;    // the working buffer
    unsigned char* backBuf = nullptr;    // the background buffer
    // Our own, after the established fields: the open device (-1 when none), whether
    // screenMem is ordinary memory because no display exists (headless), and the lock.
    int fd = -1;
    int headless = 0;
    std::mutex bufferLock;  // guards the pixels of screenMem, drawBuf and backBuf
    // What changed, so that a frame restores and presents only that: per row, the span of
    // columns written (guarded by bufferLock with the pixels; whole rows at the start).
    struct Span {
        int lo = 1, hi = 0;  // columns lo..hi; empty while lo > hi
        bool empty() const { return lo > hi; }
        void add(int from, int to)
        {
            if (empty()) {
                lo = from;
                hi = to;
                return;
            }
            lo = from < lo ? from : lo;
            hi = to > hi ? to : hi;
        }
    };
    std::vector<Span> drawnSpans;        // drawBuf, drawn since restored from backBuf
    std::vector<Span> backSpans;         // backBuf, changed since drawBuf was restored from it
    std::vector<Span> unpresentedSpans;  // drawBuf, may differ from screenMem
    uint64_t rowsPresented = 0;          // rows of which fbRealize has copied a part to screenMem
};

// The simulated panel of a regular file at the framebuffer path: 800 x 480 at 32 bpp.
constexpr int SIM_PANEL_WIDTH = 800;
constexpr int SIM_PANEL_HEIGHT = 480;
constexpr unsigned int SIM_PANEL_BYTES = SIM_PANEL_WIDTH * SIM_PANEL_HEIGHT * 4;

// Opens mapPath("/dev/fb0"): a framebuffer device, a regular file (simulated panel) or,
// when neither exists or the device cannot be used, a headless record whose screen memory
// is ordinary memory. Returns nullptr only when memory cannot be allocated.
FrameBuffer* fbInit();
// The start-up steps on one path (already mapped): a device through its ioctls, a
// regular file as the simulated panel. nullptr on failure, with the Part's messages logged.
FrameBuffer* fbInitDevice(const char* path);
// A record whose three buffers are ordinary zeroed memory (headless screens, tests, tools).
FrameBuffer* fbCreateInMemory(int sizeX, int sizeY, unsigned int pixelSize);
// Frees a record made by fbCreateInMemory (tests and tools; the program never frees its own).
void fbDestroy(FrameBuffer* fb);
// Bytes per pixel for a bits-per-pixel value: 4/8 -> 1, 5/15/16 -> 2, 24 -> 3, 32 -> 4,
// anything else 0 (unknown pixel format).
unsigned int fbPixelSizeFromBits(unsigned int bitsPerPixel);

// Present the finished frame: drawBuf -> screenMem, copying only the parts of rows drawn
// or restored since the last presentation that differ from what is shown.
void fbRealize(FrameBuffer* fb);
// Start a new frame from the static background: backBuf -> drawBuf, the whole picture.
void fbSetBack(FrameBuffer* fb);
// The same result for a frame loop: only what was drawn since its last restore, or
// changed in backBuf since then, is copied. Every writer of drawBuf and backBuf marks
// what it writes (fbMarkRows, fbMarkSpan): the primitives here, pictures, text, remote
// pictures.
void fbRestoreChanged(FrameBuffer* fb);
// Marks rows y0..y1 (clipped to the screen) of drawBuf (toBack 0) or backBuf as written,
// whole, or columns x0..x1 of row y. The caller holds bufferLock.
void fbMarkRows(FrameBuffer* fb, int toBack, int64_t y0, int64_t y1);
void fbMarkSpan(FrameBuffer* fb, int toBack, int64_t y, int64_t x0, int64_t x1);

// Pixels (x, y) for xStart <= x < xEnd; nothing when xEnd <= xStart.
void DrawHorizontalLine(int xStart, int y, int xEnd, int red, int green, int blue,
                        FrameBuffer* fb, int toBack);
// Integer Bresenham line including both end points, clipped per pixel by byte offset.
void DrawLine(int x0, int y0, int x1, int y1, int red, int green, int blue,
              FrameBuffer* fb, int toBack);
// Rectangle outline into drawBuf of works->fb.
void DrawRect(Works* works, int x0, int y0, int x1, int y1, int red, int green, int blue);
