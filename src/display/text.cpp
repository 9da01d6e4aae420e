#include "display/text.h"

#include "display/font_table.h"
#include "display/framebuffer.h"
#include "display/display_log.h"
#include "platform/paths.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

FT_Library library = nullptr;
FT_Face face[FONT_SLOTS] = {};
FT_GlyphSlot slot[FONT_SLOTS] = {};
int fontSize[FONT_SLOTS] = {};

namespace {

// One rendered glyph as putString uses it: the coverage bitmap and the metrics the pen uses.
struct Glyph {
    bool loaded = false;
    int rows = 0;
    int pitch = 0;
    FT_Pos height = 0;
    FT_Pos bearingY = 0;
    FT_Vector advance{0, 0};
    std::vector<unsigned char> bits;
};

// FreeType faces are not safe to use from two threads at once: every load and the cache
// are behind one lock, so two threads drawing text never exchange glyph bitmaps.
std::mutex textMutex;
// The library instance each slot's face was opened with: a reloaded slot closes its old
// face and that instance, so nothing of a replaced font is left behind.
FT_Library slotLibrary[FONT_SLOTS] = {};
std::atomic<bool> cacheEnabled{true};
std::unordered_map<uint64_t, Glyph> glyphCache;

// Key: slot, character and the pen's sub-pixel phase in x and y (the integer part of the
// pen only moves the outline by whole pixels, which leaves the rendered bitmap unchanged).
uint64_t glyphKey(int slotNumber, unsigned int code, FT_Pos penX, FT_Pos penY)
{
    return (static_cast<uint64_t>(slotNumber) << 40) | (static_cast<uint64_t>(penX & 63) << 34) |
           (static_cast<uint64_t>(penY & 63) << 28) | (code & 0x0FFFFFFFu);
}

// Loads a character with the pen as the transform's offset and copies what putString needs.
void renderGlyph(int slotNumber, unsigned int code, FT_Vector pen, Glyph& g)
{
    FT_Matrix matrix{0x10000, 0, 0, 0x10000};
    FT_Set_Transform(face[slotNumber], &matrix, &pen);
    g = Glyph{};
    if (FT_Load_Char(face[slotNumber], code, FT_LOAD_RENDER) != 0)
        return;
    const FT_GlyphSlot gs = face[slotNumber]->glyph;
    const FT_Bitmap& bm = gs->bitmap;
    g.loaded = true;
    g.rows = static_cast<int>(bm.rows);
    g.pitch = bm.pitch < 0 ? -bm.pitch : bm.pitch;
    g.height = gs->metrics.height;
    g.bearingY = gs->metrics.horiBearingY;
    g.advance = gs->advance;
    g.bits.resize(static_cast<size_t>(g.rows) * g.pitch);
    for (int r = 0; r < g.rows; ++r) {
        const unsigned char* src = bm.pitch < 0 ? bm.buffer + static_cast<ptrdiff_t>(g.rows - 1 - r) * g.pitch
                                                : bm.buffer + static_cast<ptrdiff_t>(r) * g.pitch;
        if (src)
            std::memcpy(g.bits.data() + static_cast<size_t>(r) * g.pitch, src, g.pitch);
    }
}

// The glyph for a character at a pen position, from the cache or freshly rendered into
// the caller's scratch record. Called with textMutex held.
const Glyph& glyphAt(int slotNumber, unsigned int code, FT_Vector pen, Glyph& scratch)
{
    if (!cacheEnabled.load(std::memory_order_relaxed)) {
        renderGlyph(slotNumber, code, pen, scratch);
        return scratch;
    }
    const uint64_t key = glyphKey(slotNumber, code, pen.x, pen.y);
    auto it = glyphCache.find(key);
    if (it != glyphCache.end())
        return it->second;
    // Text of the screens uses a few hundred glyphs; a run-away (every code point of a
    // long foreign text at every phase) starts the cache afresh rather than grow on.
    if (glyphCache.size() >= 16384)
        glyphCache.clear();
    Glyph g;
    renderGlyph(slotNumber, code, pen, g);
    return glyphCache.emplace(key, std::move(g)).first->second;
}

void dropSlotFromCache(int slotNumber)
{
    for (auto it = glyphCache.begin(); it != glyphCache.end();) {
        if (static_cast<int>(it->first >> 40) == slotNumber)
            it = glyphCache.erase(it);
        else
            ++it;
    }
}

inline bool continuation(unsigned char c)
{
    return c >= 0x80 && c <= 0xBF;
}

} // namespace

int utf8_get_next_char(const unsigned char* text, int length, int* cursor, int* status,
                       unsigned int* codePoint)
{
    *codePoint = 0;
    *status = 1;
    int i = *cursor;
    if (i >= length)
        return -1;
    const unsigned char c = text[i];
    if (c < 0x80) {
        *codePoint = c;
        *cursor = i + 1;
        return 1;
    }
    if (c <= 0xC1) {
        *status = 0;
        *cursor = i + 1;
        return 1;
    }
    if (c <= 0xDF) {
        if (i + 1 < length && continuation(text[i + 1])) {
            *codePoint = ((c * 64u) & 0x7FFu) | (text[i + 1] & 0x3Fu);
            *cursor = i + 2;
        } else {
            *status = 0;
            *cursor = i + 1;
        }
        return 1;
    }
    if (c <= 0xEF) {
        unsigned char lo = 0x80, hi = 0xBF;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
        if (!(i + 1 < length && text[i + 1] >= lo && text[i + 1] <= hi)) {
            *status = 0;
            *cursor = i + 1;
            return 1;
        }
        if (!(i + 2 < length && continuation(text[i + 2]))) {
            *status = 0;
            *cursor = i + 2;
            return 1;
        }
        *codePoint = (c & 0x0Fu) * 4096u + (text[i + 1] & 0x3Fu) * 64u + (text[i + 2] & 0x3Fu);
        *cursor = i + 3;
        return 1;
    }
    if (c <= 0xF4) {
        unsigned char lo = 0x80, hi = 0xBF;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
        if (!(i + 1 < length && text[i + 1] >= lo && text[i + 1] <= hi)) {
            *status = 0;
            *cursor = i + 1;
            return 1;
        }
        if (!(i + 2 < length && continuation(text[i + 2]))) {
            *status = 0;
            *cursor = i + 2;
            return 1;
        }
        if (!(i + 3 < length && continuation(text[i + 3]))) {
            *status = 0;
            *cursor = i + 3;
            return 1;
        }
        *codePoint = (c & 0x07u) * 262144u + (text[i + 1] & 0x3Fu) * 4096u +
                     (text[i + 2] & 0x3Fu) * 64u + (text[i + 3] & 0x3Fu);
        *cursor = i + 4;
        return 1;
    }
    *status = 0;
    *cursor = i + 1;
    return 1;
}

int TTFLoad(const char* fileName, int pixelHeight, int slotNumber)
{
    if (!fileName || slotNumber < 0 || slotNumber >= FONT_SLOTS) {
        displayLog(LOG_ERR, "FreeType: no font slot %d", slotNumber);
        return -1;
    }
    std::lock_guard<std::mutex> lock(textMutex);
    displayLog(LOG_INFO, "Iinitializing FreeType");
    if (FT_Init_FreeType(&library) != 0) {
        displayLog(LOG_ERR, "Error initializing FreeType");
        return -1;
    }
    displayLog(LOG_INFO, "Loading face: filename=%s", fileName);
    dropSlotFromCache(slotNumber);
    if (face[slotNumber])
        FT_Done_Face(face[slotNumber]);
    if (slotLibrary[slotNumber])
        FT_Done_FreeType(slotLibrary[slotNumber]);
    slotLibrary[slotNumber] = library;
    FT_Face loaded = nullptr;
    const FT_Error err = FT_New_Face(library, mapPath(fileName).c_str(), 0, &loaded);
    if (err == FT_Err_Unknown_File_Format) {
        displayLog(LOG_ERR, "FreeType: file format not supported");
    } else if (err != 0) {
        displayLog(LOG_ERR, "FreeType: file error");
    } else {
        displayLog(LOG_INFO, "Face loaded");
    }
    // A slot whose face failed stays empty (nullptr): text in it draws nothing.
    face[slotNumber] = err == 0 ? loaded : nullptr;
    slot[slotNumber] = nullptr;
    fontSize[slotNumber] = 0;
    if (err != 0)
        return -1;
    int status = 0;
    if (FT_Set_Pixel_Sizes(loaded, 0, static_cast<FT_UInt>(pixelHeight)) != 0) {
        displayLog(LOG_ERR, "Error Setting Pixel Size");
        status = -1;
    }
    displayLog(LOG_INFO, "Pixel size sat");
    slot[slotNumber] = loaded->glyph;
    fontSize[slotNumber] = pixelHeight;
    return status;
}

void putString(int slotNumber, int x, int y, const char* text, int red, int green, int blue,
               FrameBuffer* fb, int toBack)
{
    if (!text || !fb || slotNumber < 0 || slotNumber >= FONT_SLOTS)
        return;
    std::lock_guard<std::mutex> lock(textMutex);
    if (!face[slotNumber])
        return;
    std::lock_guard<std::mutex> pixels(fb->bufferLock);
    unsigned char* buf = toBack ? fb->backBuf : fb->drawBuf;
    const int64_t memSize = fb->memSize;
    const int64_t lineSize = fb->lineSize;
    const int64_t pixelSize = fb->pixelSize;
    const unsigned char rc = static_cast<unsigned char>(red);
    const unsigned char gc = static_cast<unsigned char>(green);
    const unsigned char bc = static_cast<unsigned char>(blue);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);

    FT_Vector pen{static_cast<FT_Pos>(x) * 64, static_cast<FT_Pos>(y) * 64};
    Glyph scratch;
    int cursor = 0;
    int status = 0;
    unsigned int code = 0;
    while (utf8_get_next_char(bytes, static_cast<int>(std::strlen(text)), &cursor, &status, &code) == 1) {
        const Glyph& g = glyphAt(slotNumber, code, pen, scratch);
        if (!g.loaded)
            continue;
        const int64_t px = pen.x / 64;
        const int64_t baseRow = (pen.y + g.height - g.bearingY) / 64;
        if (g.rows > 0) {
            const int64_t top = baseRow - (g.rows - 1);
            if (px < 0 || px + g.pitch > fb->sizeX) {
                // A glyph past the left or right edge wraps onto the row before or after.
                fbMarkRows(fb, toBack, top - 1, baseRow + 1);
            } else {
                for (int64_t y = top; y <= baseRow; ++y)
                    fbMarkSpan(fb, toBack, y, px, px + g.pitch - 1);
            }
        }
        for (int i = 0; i < g.rows; ++i) {
            const unsigned char* row = g.bits.data() + static_cast<size_t>(g.rows - 1 - i) * g.pitch;
            const int64_t rowOffset = (baseRow - i) * lineSize;
            for (int j = 0; j < g.pitch; ++j) {
                const unsigned int a = row[j];
                if (a == 0)
                    continue; // (255 * old) / 255 + 0 leaves every byte as it was
                const int64_t o = rowOffset + (px + j) * pixelSize;
                if (o < 0 || o + 3 >= memSize)
                    continue;
                unsigned char* d = buf + o;
                if (a == 255) {
                    // Opaque: the blend below comes to the colour itself.
                    d[0] = bc;
                    d[1] = gc;
                    d[2] = rc;
                    d[3] = 0;
                    continue;
                }
                d[0] = static_cast<unsigned char>((255 - a) * d[0] / 255 + (a & bc));
                d[1] = static_cast<unsigned char>((255 - a) * d[1] / 255 + (a & gc));
                d[2] = static_cast<unsigned char>((255 - a) * d[2] / 255 + (a & rc));
                d[3] = 0;
            }
        }
        pen.x += g.advance.x;
        pen.y += g.advance.y;
    }
}

int getStringSpace(int slotNumber, const char* text)
{
    if (!text || slotNumber < 0 || slotNumber >= FONT_SLOTS)
        return 0;
    std::lock_guard<std::mutex> lock(textMutex);
    if (!face[slotNumber])
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const FT_Vector origin{0, 0};
    FT_Pos penX = 0;
    Glyph scratch;
    int cursor = 0;
    int status = 0;
    unsigned int code = 0;
    while (utf8_get_next_char(bytes, static_cast<int>(std::strlen(text)), &cursor, &status, &code) == 1) {
        const Glyph& g = glyphAt(slotNumber, code, origin, scratch);
        if (g.loaded)
            penX += g.advance.x;
    }
    return static_cast<int>(penX / 64);
}

void textSetGlyphCache(bool enabled)
{
    std::lock_guard<std::mutex> lock(textMutex);
    cacheEnabled.store(enabled);
    if (!enabled)
        glyphCache.clear();
}

bool textGlyphCacheEnabled()
{
    return cacheEnabled.load();
}
