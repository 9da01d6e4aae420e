// Fuzzes the UTF-8 decoder and the text drawing and measuring built on it. Each character
// the decoder accepts must be a Unicode scalar value whose shortest encoding is exactly the
// bytes consumed; each sequence it refuses must be no such encoding; the cursor moves on
// and stays inside the text. The text is then drawn near the edges of a small screen.
#include "display/framebuffer.h"
#include "display/text.h"
#include "fuzz_support.h"

#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr int FONT_SLOT = 3;
constexpr const char* FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

int encode(unsigned int cp, unsigned char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

bool scalarValue(unsigned int cp)
{
    return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// True when the bytes at p begin with the shortest encoding of some scalar value.
bool startsWithValidSequence(const unsigned char* p, size_t available)
{
    const unsigned char c = p[0];
    const size_t n = c < 0x80 ? 1 : c >= 0xC0 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF8 ? 4 : 0;
    if (n == 0 || n > available)
        return false;
    unsigned int cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return false;
        cp = cp << 6 | (p[k] & 0x3F);
    }
    unsigned char again[4];
    return scalarValue(cp) && static_cast<size_t>(encode(cp, again)) == n && memcmp(again, p, n) == 0;
}

FrameBuffer* screen()
{
    static FrameBuffer* fb = [] {
        const std::string relative = std::filesystem::relative(FONT, std::filesystem::current_path()).string();
        if (TTFLoad(relative.c_str(), 18, FONT_SLOT) != 0)
            fuzz::fail("cannot load %s", FONT);
        return fbCreateInMemory(64, 32, 4);
    }();
    return fb;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int length = static_cast<int>(size);
    int cursor = 0;
    int status = 0;
    unsigned int cp = 0;
    while (true) {
        const int before = cursor;
        const int r = utf8_get_next_char(data, length, &cursor, &status, &cp);
        if (r == -1) {
            if (before < length)
                fuzz::fail("end reported at %d of %d", before, length);
            break;
        }
        if (r != 1 || cursor <= before || cursor > length)
            fuzz::fail("result %d moved the cursor from %d to %d of %d", r, before, cursor, length);
        const auto consumed = static_cast<size_t>(cursor - before);
        unsigned char bytes[4];
        if (status == 1) {
            if (!scalarValue(cp) || static_cast<size_t>(encode(cp, bytes)) != consumed ||
                memcmp(bytes, data + before, consumed) != 0)
                fuzz::fail("U+%X accepted from %zu bytes at %d that are not its encoding", cp, consumed, before);
        } else if (status != 0 || cp != 0) {
            fuzz::fail("status %d with code point %X", status, cp);
        } else if (startsWithValidSequence(data + before, size - static_cast<size_t>(before))) {
            fuzz::fail("valid sequence at %d refused", before);
        }
    }

    // Drawing and measuring take the text up to its first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), size);
    FrameBuffer* fb = screen();
    const int x = size > 0 ? data[0] % 96 - 16 : 0;
    getStringSpace(FONT_SLOT, text.c_str());
    putString(FONT_SLOT, x, 30, text.c_str(), 255, 255, 255, fb, 0);
    putString(FONT_SLOT, -x, 2, text.c_str(), 255, 255, 255, fb, 1);
    return 0;
}
