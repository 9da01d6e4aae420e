#pragma once
// Screen snapshots: a picture in the framebuffer's own byte layout written as a PNG file
// (the screenshot tool, the simulated unit's fbgrab stand-in and the display tests).

struct FrameBuffer;

// Writes width x height pixels, rows lineSize bytes apart, as an 8-bit RGB PNG. Pixels of
// 4 bytes are blue, green, red, unused; of 2 bytes RGB 5-6-5 with the low byte first (as
// the framebuffer stores them). Returns 0 on success, -1 on failure.
int writeScreenPng(const unsigned char* pixels, int width, int height, unsigned int lineSize,
                   unsigned int pixelSize, const char* path);
// The visible memory of a framebuffer record, as above.
int writeFrameBufferPng(const FrameBuffer* fb, const char* path);
