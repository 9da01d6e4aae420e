#pragma once
// PNG files written by the program's tools: screen snapshots in the framebuffer's own byte
// layout (the screenshot tool, the simulated unit's fbgrab stand-in, the display tests) and
// the generated screen pictures.

#include <functional>
#include <vector>

struct FrameBuffer;

// Writes an 8-bit PNG, RGB or (withAlpha) RGBA; fillRow(y, row) fills row y with width x 3
// or 4 bytes. Returns 0 on success, -1 on failure (no partial file is left).
int writePngRows(const char* path, int width, int height, bool withAlpha,
                 const std::function<void(int y, unsigned char* row)>& fillRow);

// Writes width x height pixels, rows lineSize bytes apart, as an 8-bit RGB PNG. Pixels of
// 4 bytes are blue, green, red, unused; of 2 bytes RGB 5-6-5 with the low byte first (as
// the framebuffer stores them). Returns 0 on success, -1 on failure.
int writeScreenPng(const unsigned char* pixels, int width, int height, unsigned int lineSize,
                   unsigned int pixelSize, const char* path);
// The same PNG into memory (out replaced; fastest compression, for live views).
int encodeScreenPng(const unsigned char* pixels, int width, int height, unsigned int lineSize,
                    unsigned int pixelSize, std::vector<unsigned char>& out);
// The visible memory of a framebuffer record, as above.
int writeFrameBufferPng(FrameBuffer* fb, const char* path);
