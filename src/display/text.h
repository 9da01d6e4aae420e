#pragma once
// TrueType text: the font table of slots 0 ... 19, UTF-8 decoding, anti-aliased
// string drawing into the working or background buffer, and string measuring.
struct FrameBuffer;

constexpr int FONT_SLOTS = 20;

// Loads face 0 of fileName (an absolute path goes through the root mapping) at pixelHeight
// into slotNumber. Returns 0 when the face is loaded and sized, non-zero otherwise.
int TTFLoad(const char* fileName, int pixelHeight, int slotNumber);

// Draws UTF-8 text with its baseline on row y and its first glyph from column x. A slot
// without a loaded face draws nothing.
void putString(int slotNumber, int x, int y, const char* text, int red, int green, int blue,
               FrameBuffer* fb, int toBack);

// Width in pixels of the text in that slot (advances summed in 26.6, divided by 64).
int getStringSpace(int slotNumber, const char* text);

// Reads the character at *cursor and advances it: 1 while a character (or a bad sequence,
// *status 0 and *codePoint 0) was read, -1 when *cursor is at or past length.
int utf8_get_next_char(const unsigned char* text, int length, int* cursor, int* status,
                       unsigned int* codePoint);

// The glyph cache (on by default): rendered glyphs are kept per slot, character and
// sub-pixel pen phase, so a frame's text costs no FreeType calls; output is byte-identical.
void textSetGlyphCache(bool enabled);
bool textGlyphCacheEnabled();
