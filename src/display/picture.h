#pragma once
// Screen pictures: 8-bit RGBA PNG files read with libpng into the working or the
// background buffer.
struct Works;
struct FrameBuffer;

// Loads works->imgName + ".png" (relative to the working directory) at (imgX, imgY) into
// backBuf when toBack is non-zero, else into drawBuf and presents it with fbRealize.
// Failures are logged and leave the buffer as it was.
void getPng(Works* works, int toBack);
// The same for an explicit picture name and framebuffer (getPng's body; tools and tests).
// Returns 0 when the picture was placed, -1 on any failure.
int loadPngInto(const char* imgName, int imgX, int imgY, FrameBuffer* fb, int toBack);
