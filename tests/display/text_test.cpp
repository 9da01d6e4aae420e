// UTF-8 decoding, font loading, string drawing and measuring. Drawing is checked
// pixel for pixel against a reference written from the Part's rule with FreeType directly,
// with and without the glyph cache.
#include "display/text.h"

#include "display/font_table.h"
#include "display/framebuffer.h"
#include "display_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace displaytest;

namespace {

struct Decoded {
    int ret;
    int status;
    unsigned int cp;
    int cursor;
};

std::vector<Decoded> decodeAll(const std::string& bytes)
{
    std::vector<Decoded> out;
    int cursor = 0;
    for (;;) {
        int status = -7;
        unsigned int cp = 12345;
        const int ret = utf8_get_next_char(reinterpret_cast<const unsigned char*>(bytes.data()),
                                           static_cast<int>(bytes.size()), &cursor, &status, &cp);
        if (ret == -1) {
            EXPECT_EQ(status, 1);
            EXPECT_EQ(cp, 0u);
            break;
        }
        out.push_back({ret, status, cp, cursor});
    }
    return out;
}

std::string encode(unsigned int cp)
{
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

} // namespace

TEST(Utf8, ListedSequences)
{
    auto d = decodeAll("\xC3\x84");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].status, 1);
    EXPECT_EQ(d[0].cp, 0xC4u);
    EXPECT_EQ(d[0].cursor, 2);

    d = decodeAll("\xE0\x80\x80");
    ASSERT_EQ(d.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(d[i].ret, 1);
        EXPECT_EQ(d[i].status, 0);
        EXPECT_EQ(d[i].cp, 0u);
        EXPECT_EQ(d[i].cursor, i + 1);
    }

    d = decodeAll("\xED\xA0\x80"); // a surrogate
    ASSERT_EQ(d.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(d[i].status, 0);

    EXPECT_TRUE(decodeAll("").empty());
}

TEST(Utf8, EveryOneToFourByteForm)
{
    for (unsigned int cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const std::string s = encode(cp);
        int cursor = 0, status = 0;
        unsigned int got = 0;
        const int ret = utf8_get_next_char(reinterpret_cast<const unsigned char*>(s.data()),
                                           static_cast<int>(s.size()), &cursor, &status, &got);
        ASSERT_EQ(ret, 1) << std::hex << cp;
        ASSERT_EQ(status, 1) << std::hex << cp;
        ASSERT_EQ(got, cp) << std::hex << cp;
        ASSERT_EQ(cursor, static_cast<int>(s.size())) << std::hex << cp;
    }
}

TEST(Utf8, SurrogatesAreRejectedAfterTheLeadByte)
{
    for (unsigned int cp = 0xD800; cp <= 0xDFFF; cp += 0x7F) {
        const auto d = decodeAll(encode(cp));
        ASSERT_EQ(d.size(), 3u);
        EXPECT_EQ(d[0].status, 0);
        EXPECT_EQ(d[0].cursor, 1);
    }
}

TEST(Utf8, BadLeadAndContinuationBytes)
{
    for (int c = 0x80; c <= 0xC1; ++c) {
        const auto d = decodeAll(std::string(1, static_cast<char>(c)) + "A");
        ASSERT_EQ(d.size(), 2u) << c;
        EXPECT_EQ(d[0].status, 0);
        EXPECT_EQ(d[0].cursor, 1);
        EXPECT_EQ(d[1].cp, 'A');
    }
    for (int c = 0xF5; c <= 0xFF; ++c) {
        const auto d = decodeAll(std::string(1, static_cast<char>(c)) + "\x80");
        ASSERT_EQ(d.size(), 2u) << c;
        EXPECT_EQ(d[0].status, 0);
        EXPECT_EQ(d[0].cursor, 1);
    }
}

TEST(Utf8, TruncatedAndBrokenSequences)
{
    // Two-byte lead at the end, or followed by a non-continuation.
    auto d = decodeAll("\xC3");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].status, 0);
    d = decodeAll("\xC3" "A");
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].cursor, 1);
    EXPECT_EQ(d[1].cp, 'A');
    // Three-byte: a good second byte and a missing or bad third costs two bytes.
    d = decodeAll("\xE2\x82");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].status, 0);
    EXPECT_EQ(d[0].cursor, 2);
    d = decodeAll("\xE2\x82" "A");
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].cursor, 2);
    EXPECT_EQ(d[1].cp, 'A');
    // 0xE0 needs A0...BF, 0xED needs 80...9F.
    d = decodeAll("\xE0\xA0\x80");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].cp, 0x800u);
    d = decodeAll("\xED\x9F\xBF");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].cp, 0xD7FFu);
    // Four-byte: F0 needs 90...BF, F4 needs 80...8F; bad third and fourth bytes.
    d = decodeAll("\xF0\x8F\xBF\xBF");
    EXPECT_EQ(d[0].status, 0);
    EXPECT_EQ(d[0].cursor, 1);
    d = decodeAll("\xF4\x90\x80\x80");
    EXPECT_EQ(d[0].status, 0);
    EXPECT_EQ(d[0].cursor, 1);
    d = decodeAll("\xF0\x90" "A");
    EXPECT_EQ(d[0].status, 0);
    EXPECT_EQ(d[0].cursor, 2);
    d = decodeAll("\xF0\x90\x80" "A");
    EXPECT_EQ(d[0].status, 0);
    EXPECT_EQ(d[0].cursor, 3);
    EXPECT_EQ(d[1].cp, 'A');
    d = decodeAll("\xF0\x90\x80");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].cursor, 3);
    d = decodeAll("\xF4\x8F\xBF\xBF");
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].cp, 0x10FFFFu);
}

TEST(Utf8, CursorAtOrPastTheLength)
{
    const unsigned char text[] = "ab";
    int cursor = 5, status = 0;
    unsigned int cp = 99;
    EXPECT_EQ(utf8_get_next_char(text, 2, &cursor, &status, &cp), -1);
    EXPECT_EQ(cp, 0u);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(cursor, 5);
}

// --------------------------------------------------------------------------------------

namespace {

// The Part's drawing rule, written again from the text with FreeType calls of its own.
class Reference {
public:
    Reference(const char* file, int px)
    {
        FT_Init_FreeType(&lib_);
        FT_New_Face(lib_, file, 0, &face_);
        FT_Set_Pixel_Sizes(face_, 0, px);
    }
    ~Reference()
    {
        FT_Done_Face(face_);
        FT_Done_FreeType(lib_);
    }
    void draw(int x, int y, const std::string& text, int r, int g, int b, FrameBuffer* fb, unsigned char* buf)
    {
        FT_Matrix m{0x10000, 0, 0, 0x10000};
        FT_Vector pen{x * 64L, y * 64L};
        int cursor = 0, status = 0;
        unsigned int cp = 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
        while (utf8_get_next_char(bytes, static_cast<int>(text.size()), &cursor, &status, &cp) == 1) {
            FT_Set_Transform(face_, &m, &pen);
            if (FT_Load_Char(face_, cp, FT_LOAD_RENDER) != 0)
                continue;
            FT_GlyphSlot s = face_->glyph;
            const int rows = static_cast<int>(s->bitmap.rows);
            for (int i = 0; i < rows; ++i)
                for (int j = 0; j < s->bitmap.pitch; ++j) {
                    const unsigned int a = s->bitmap.buffer[(rows - 1 - i) * s->bitmap.pitch + j];
                    const long px = pen.x / 64 + j;
                    const long py = (pen.y + s->metrics.height - s->metrics.horiBearingY) / 64 - i;
                    const long o = py * static_cast<long>(fb->lineSize) + px * static_cast<long>(fb->pixelSize);
                    if (o < 0 || o + 3 >= static_cast<long>(fb->memSize) || a == 0)
                        continue;
                    unsigned char* d = buf + o;
                    d[0] = static_cast<unsigned char>((255 - a) * d[0] / 255 + (a & b));
                    d[1] = static_cast<unsigned char>((255 - a) * d[1] / 255 + (a & g));
                    d[2] = static_cast<unsigned char>((255 - a) * d[2] / 255 + (a & r));
                    d[3] = 0;
                }
            pen.x += s->advance.x;
            pen.y += s->advance.y;
        }
    }
    FT_Face face() const { return face_; }

private:
    FT_Library lib_ = nullptr;
    FT_Face face_ = nullptr;
};

class Text : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(TTFLoad(unmapped(DEJAVU).c_str(), 20, 8), 0);
        ASSERT_EQ(TTFLoad(unmapped(DEJAVU_BOLD).c_str(), 24, 0), 0);
        ASSERT_EQ(TTFLoad(unmapped(PTSANS_BOLD).c_str(), 24, 4), 0);
    }
    void SetUp() override
    {
        textSetGlyphCache(true);
        fb = fbCreateInMemory(800, 480, 4);
    }
    void TearDown() override
    {
        fbDestroy(fb);
        textSetGlyphCache(true);
    }
    FrameBuffer* fb = nullptr;
};

void fillPattern(FrameBuffer* fb, unsigned char* buf)
{
    for (unsigned int o = 0; o < fb->memSize; o += 4) {
        buf[o] = static_cast<unsigned char>(o * 7);
        buf[o + 1] = static_cast<unsigned char>(o * 13 + 5);
        buf[o + 2] = static_cast<unsigned char>(o * 3 + 100);
        buf[o + 3] = 0;
    }
}

} // namespace

TEST_F(Text, FontTableHoldsTheLoadedSlots)
{
    EXPECT_NE(face[8], nullptr);
    EXPECT_NE(slot[8], nullptr);
    EXPECT_EQ(fontSize[8], 20);
    EXPECT_EQ(fontSize[0], 24);
    EXPECT_EQ(face[3], nullptr);
}

TEST_F(Text, DrawingMatchesThePartsRuleWithAndWithoutCache)
{
    const struct {
        int slot;
        const char* file;
        int px;
        int x, y;
        const char* text;
        int r, g, b;
    } cases[] = {
        {8, DEJAVU, 20, 155, 160, "FORWARD 60.0W", 0, 0, 0},
        {8, DEJAVU, 20, 5, 298, "Band:40m Att 3dB \xC2\xB0" "C", 0, 200, 255},
        {0, DEJAVU_BOLD, 24, 20, 445, "RESET \xE2\x88\x9E", 250, 150, 0},
        {4, PTSANS_BOLD, 24, 339, 52, "14.070MHz", 250, 150, 0},
        {8, DEJAVU, 20, 780, 100, "wraps right", 255, 255, 255},    // past the right edge
        {8, DEJAVU, 20, 300, 485, "gjpqy below", 255, 255, 255},    // past the bottom
        {8, DEJAVU, 20, -30, 10, "above the top", 200, 100, 50},    // negative offsets
        {8, DEJAVU, 20, 10, 40, "bad \xE0\x80 seq \xFF", 90, 91, 92}, // code 0 glyphs
    };
    for (bool cache : {false, true}) {
        textSetGlyphCache(cache);
        for (const auto& c : cases) {
            Reference ref(c.file, c.px);
            std::vector<unsigned char> expected(fb->memSize);
            fillPattern(fb, expected.data());
            fillPattern(fb, fb->drawBuf);
            ref.draw(c.x, c.y, c.text, c.r, c.g, c.b, fb, expected.data());
            putString(c.slot, c.x, c.y, c.text, c.r, c.g, c.b, fb, 0);
            ASSERT_EQ(std::memcmp(expected.data(), fb->drawBuf, fb->memSize), 0)
                << c.text << " cache " << cache;
            // Drawn twice (the second time from the cache) the result is the same again.
            fillPattern(fb, fb->drawBuf);
            putString(c.slot, c.x, c.y, c.text, c.r, c.g, c.b, fb, 0);
            ASSERT_EQ(std::memcmp(expected.data(), fb->drawBuf, fb->memSize), 0) << c.text;
        }
    }
}

TEST_F(Text, CacheIsByteIdenticalAtEveryPosition)
{
    std::vector<unsigned char> withCache(fb->memSize);
    for (int pass = 0; pass < 2; ++pass) {
        textSetGlyphCache(pass == 1);
        std::memset(fb->drawBuf, 0, fb->memSize);
        for (int i = 0; i < 60; ++i) {
            const int x = -20 + i * 14, y = 12 + (i * 37) % 470;
            putString(i % 2 ? 8 : 4, x, y, "AVWa.,;:ÄÖÜ%0123456789", 40 + i, 255 - i, 3 * i, fb, 0);
        }
        if (pass == 0)
            std::memcpy(withCache.data(), fb->drawBuf, fb->memSize);
    }
    EXPECT_EQ(std::memcmp(withCache.data(), fb->drawBuf, fb->memSize), 0);
}

TEST_F(Text, WhiteOverBlackTakesTheCoverage)
{
    std::memset(fb->drawBuf, 0, fb->memSize);
    putString(0, 100, 100, "W", 255, 255, 255, fb, 0);
    // Coverage of the same glyph, straight from FreeType.
    Reference ref(DEJAVU_BOLD, 24);
    FT_Matrix m{0x10000, 0, 0, 0x10000};
    FT_Vector pen{100 * 64, 100 * 64};
    FT_Set_Transform(ref.face(), &m, &pen);
    ASSERT_EQ(FT_Load_Char(ref.face(), 'W', FT_LOAD_RENDER), 0);
    const FT_GlyphSlot s = ref.face()->glyph;
    const int top = static_cast<int>((pen.y + s->metrics.height - s->metrics.horiBearingY) / 64) - static_cast<int>(s->bitmap.rows) + 1;
    int full = 0, half = 0;
    for (unsigned r = 0; r < s->bitmap.rows; ++r)
        for (int j = 0; j < s->bitmap.pitch; ++j) {
            const unsigned a = s->bitmap.buffer[r * s->bitmap.pitch + j];
            const unsigned char* p = pixelAt(fb, fb->drawBuf, 100 + j, top + static_cast<int>(r));
            ASSERT_EQ(p[0], a);
            ASSERT_EQ(p[1], a);
            ASSERT_EQ(p[2], a);
            full += a == 255;
            half += a >= 120 && a <= 136;
        }
    EXPECT_GT(full, 0);  // full coverage gives exactly white
    EXPECT_GT(half, 0);  // about half coverage over black gives that value in each byte
}

TEST_F(Text, BlendingRuleAtFullHalfAndNoCoverage)
{
    // Coverage 0 leaves a pixel as it was, whatever it holds.
    fillPattern(fb, fb->drawBuf);
    std::vector<unsigned char> before(fb->drawBuf, fb->drawBuf + fb->memSize);
    putString(8, 50, 50, " ", 255, 255, 255, fb, 0);
    EXPECT_EQ(std::memcmp(before.data(), fb->drawBuf, fb->memSize), 0);
    // Grey 128 with coverage 255 over anything gives 128; colour 200 AND coverage is bitwise.
    std::memset(fb->drawBuf, 77, fb->memSize);
    putString(0, 100, 100, "I", 128, 200, 255, fb, 0);
    bool seenFull = false;
    for (unsigned int o = 0; o < fb->memSize; o += 4)
        if (fb->drawBuf[o + 3] == 0 && fb->drawBuf[o] == 255 && fb->drawBuf[o + 2] == 128) {
            EXPECT_EQ(fb->drawBuf[o + 1], 200);
            seenFull = true;
        }
    EXPECT_TRUE(seenFull);
}

TEST_F(Text, ClippedAtTheBottomAndWrappedAtTheRight)
{
    FrameBuffer* small = fbCreateInMemory(64, 24, 4);
    // Descenders below the last row are cut off; nothing is written past the buffer.
    putString(8, 2, 23, "gjpq", 255, 255, 255, small, 0);
    int lastRow = 0;
    for (int x = 0; x < 64; ++x)
        lastRow += pixelAt(small, small->drawBuf, x, 23)[0] != 0;
    EXPECT_GT(lastRow, 0);
    // Text past the right edge continues at the left of the next row.
    std::memset(small->drawBuf, 0, small->memSize);
    putString(8, 58, 12, "MMMM", 255, 255, 255, small, 0);
    int wrapped = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 20; ++x)
            wrapped += pixelAt(small, small->drawBuf, x, y)[0] != 0;
    EXPECT_GT(wrapped, 0);
    fbDestroy(small);
}

TEST_F(Text, IntoTheBackgroundWhenAsked)
{
    std::memset(fb->backBuf, 0, fb->memSize);
    std::memset(fb->drawBuf, 0, fb->memSize);
    putString(8, 10, 30, "back", 255, 255, 255, fb, 1);
    size_t inBack = 0;
    for (unsigned int o = 0; o < fb->memSize; ++o)
        inBack += fb->backBuf[o] != 0;
    EXPECT_GT(inBack, 0u);
    for (unsigned int o = 0; o < fb->memSize; ++o)
        ASSERT_EQ(fb->drawBuf[o], 0);
}

TEST_F(Text, MeasuringIsTheSumOfAdvances)
{
    EXPECT_EQ(getStringSpace(8, ""), 0);
    Reference ref(DEJAVU, 20);
    long sum = 0;
    for (char c : std::string("FORWARD 60.0W")) {
        FT_Load_Char(ref.face(), static_cast<unsigned char>(c), FT_LOAD_RENDER);
        sum += ref.face()->glyph->advance.x;
    }
    EXPECT_EQ(getStringSpace(8, "FORWARD 60.0W"), sum / 64);
    textSetGlyphCache(false);
    EXPECT_EQ(getStringSpace(8, "FORWARD 60.0W"), sum / 64);
}

TEST_F(Text, SlotWithoutAFaceDrawsNothing)
{
    LogCapture log;
    EXPECT_NE(TTFLoad("no-such-font.ttf", 20, 3), 0);
    EXPECT_TRUE(log.has("FreeType: file error"));
    EXPECT_EQ(face[3], nullptr);
    fillPattern(fb, fb->drawBuf);
    std::vector<unsigned char> before(fb->drawBuf, fb->drawBuf + fb->memSize);
    putString(3, 10, 30, "nothing", 255, 255, 255, fb, 0);
    putString(19, 10, 30, "never loaded", 255, 255, 255, fb, 0);
    putString(-1, 10, 30, "no slot", 255, 255, 255, fb, 0);
    putString(20, 10, 30, "no slot", 255, 255, 255, fb, 0);
    putString(8, 10, 30, nullptr, 255, 255, 255, fb, 0);
    EXPECT_EQ(std::memcmp(before.data(), fb->drawBuf, fb->memSize), 0);
    EXPECT_EQ(getStringSpace(3, "nothing"), 0);
    EXPECT_EQ(getStringSpace(25, "nothing"), 0);
}

TEST_F(Text, LoadingMessages)
{
    const std::string bogus = outputDir("fonts") + "/bogus.ttf";
    std::ofstream(bogus) << "not a font\n";
    {
        LogCapture log;
        EXPECT_NE(TTFLoad(unmapped(bogus).c_str(), 20, 5), 0);
        EXPECT_TRUE(log.has("FreeType: file format not supported"));
        EXPECT_EQ(face[5], nullptr);
    }
    {
        LogCapture log;
        EXPECT_EQ(TTFLoad(unmapped(DEJAVU).c_str(), 8, 5), 0);
        const std::vector<std::string> expected = {
            "Iinitializing FreeType", "Loading face: filename=" + unmapped(DEJAVU), "Face loaded", "Pixel size sat"};
        EXPECT_EQ(log.all(), expected);
        EXPECT_EQ(fontSize[5], 8);
    }
}

TEST_F(Text, ReloadingASlotDropsItsCachedGlyphs)
{
    std::memset(fb->drawBuf, 0, fb->memSize);
    ASSERT_EQ(TTFLoad(unmapped(DEJAVU).c_str(), 14, 6), 0);
    const int small = getStringSpace(6, "MMMM");
    putString(6, 10, 40, "MMMM", 255, 255, 255, fb, 0);
    ASSERT_EQ(TTFLoad(unmapped(DEJAVU).c_str(), 30, 6), 0);
    EXPECT_GT(getStringSpace(6, "MMMM"), small);
    std::vector<unsigned char> expected(fb->memSize, 0);
    Reference ref(DEJAVU, 30);
    ref.draw(10, 40, "MMMM", 255, 255, 255, fb, expected.data());
    std::memset(fb->drawBuf, 0, fb->memSize);
    putString(6, 10, 40, "MMMM", 255, 255, 255, fb, 0);
    EXPECT_EQ(std::memcmp(expected.data(), fb->drawBuf, fb->memSize), 0);
}
