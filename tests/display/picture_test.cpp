// getPng places RGBA pictures as blue, green, red, 0 and refuses the others with
// the Part's messages, leaving the buffer as it was.
#include "display/picture.h"

#include "core/works.h"
#include "display/framebuffer.h"
#include "display_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace displaytest;

namespace {

class Pictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = unmapped(outputDir("pictures"));
        fb = fbCreateInMemory(800, 480, 4);
        std::memset(fb->backBuf, 0xAB, fb->memSize);
        std::memset(fb->drawBuf, 0xCD, fb->memSize);
    }
    void TearDown() override { fbDestroy(fb); }

    // A picture whose pixel (x, y) is red x, green y, blue x + y, alpha 7.
    std::string picture(const std::string& name, int w, int h, int colorType = PNG_COLOR_TYPE_RGBA)
    {
        const std::string base = dir + "/" + name;
        writePng(base + ".png", w, h, colorType, [](int x, int y, unsigned char* px) {
            px[0] = static_cast<unsigned char>(x);
            px[1] = static_cast<unsigned char>(y);
            px[2] = static_cast<unsigned char>(x + y);
            px[3] = 7;
        });
        return base;
    }

    bool untouched(const unsigned char* buf, unsigned char fillByte)
    {
        for (unsigned int i = 0; i < fb->memSize; ++i)
            if (buf[i] != fillByte)
                return false;
        return true;
    }

    std::string dir;
    FrameBuffer* fb = nullptr;
};

} // namespace

TEST_F(Pictures, FullScreenPictureIntoTheBackground)
{
    const std::string name = picture("full", 800, 480);
    ASSERT_EQ(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    for (int y : {0, 1, 240, 479})
        for (int x : {0, 1, 400, 799}) {
            const unsigned char* p = pixelAt(fb, fb->backBuf, x, y);
            EXPECT_EQ(p[0], static_cast<unsigned char>(x + y));
            EXPECT_EQ(p[1], static_cast<unsigned char>(y));
            EXPECT_EQ(p[2], static_cast<unsigned char>(x));
            EXPECT_EQ(p[3], 0); // alpha ignored
        }
    EXPECT_TRUE(untouched(fb->drawBuf, 0xCD));
    EXPECT_TRUE(untouched(fb->screenMem, 0));
}

TEST_F(Pictures, IntoTheWorkingBufferIsPresentedAtOnce)
{
    const std::string name = picture("shown", 800, 480);
    ASSERT_EQ(loadPngInto(name.c_str(), 0, 0, fb, 0), 0);
    EXPECT_EQ(pixelAt(fb, fb->drawBuf, 10, 20)[2], 10);
    EXPECT_EQ(std::memcmp(fb->screenMem, fb->drawBuf, fb->memSize), 0);
    EXPECT_TRUE(untouched(fb->backBuf, 0xAB));
}

TEST_F(Pictures, SmallerPictureLeavesTheRestUntouched)
{
    const std::string name = picture("small", 640, 480);
    ASSERT_EQ(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    for (int y = 0; y < 480; y += 7) {
        EXPECT_EQ(pixelAt(fb, fb->backBuf, 639, y)[2], static_cast<unsigned char>(639));
        for (int x = 640; x < 800; ++x) {
            const unsigned char* p = pixelAt(fb, fb->backBuf, x, y);
            ASSERT_EQ(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24), static_cast<int>(0xABABABAB)) << x << "," << y;
        }
    }
}

TEST_F(Pictures, PlacedPastTheEdgeIsCutThere)
{
    const std::string name = picture("offset", 640, 480);
    ASSERT_EQ(loadPngInto(name.c_str(), 700, 400, fb, 1), 0);
    EXPECT_EQ(pixelAt(fb, fb->backBuf, 700, 400)[2], 0);
    EXPECT_EQ(pixelAt(fb, fb->backBuf, 799, 479)[2], 99);
    EXPECT_EQ(pixelAt(fb, fb->backBuf, 699, 400)[0], 0xAB);
}

TEST_F(Pictures, GetPngUsesTheNameAndPositionOfWorks)
{
    picture("worksimg", 800, 480);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(outputDir("pictures"));
    Works works;
    works.fb = fb;
    std::snprintf(works.imgName, sizeof works.imgName, "%s", "worksimg");
    getPng(&works, 1);
    std::filesystem::current_path(old);
    EXPECT_EQ(pixelAt(fb, fb->backBuf, 5, 6)[1], 6);
}

TEST_F(Pictures, TooWideIsRefused)
{
    const std::string name = picture("wide", 801, 480);
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image has 801 cols not 800"});
    EXPECT_TRUE(untouched(fb->backBuf, 0xAB));
}

TEST_F(Pictures, TooTallIsRefused)
{
    const std::string name = picture("tall", 800, 481);
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image has 481 rows not 480"});
    EXPECT_TRUE(untouched(fb->backBuf, 0xAB));
}

TEST_F(Pictures, WithoutAlphaIsRefused)
{
    const std::string name = picture("rgb", 800, 480, PNG_COLOR_TYPE_RGB);
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image has 8 pixels not 4 or color_type is 2 not 6"});
    EXPECT_TRUE(untouched(fb->backBuf, 0xAB));
}

TEST_F(Pictures, OnASixteenBitScreenIsRefused)
{
    FrameBuffer* small = fbCreateInMemory(800, 480, 2);
    const std::string name = picture("on16", 800, 480);
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, small, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image has 8 pixels not 2 or color_type is 6 not 6"});
    fbDestroy(small);
}

TEST_F(Pictures, NotAPngIsRefused)
{
    const std::string name = dir + "/text";
    std::ofstream(name + ".png") << "This is not a picture at all.\n";
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image is not a PNG file"});
    EXPECT_TRUE(untouched(fb->backBuf, 0xAB));
}

TEST_F(Pictures, ShortFileIsNotAPng)
{
    const std::string name = dir + "/short";
    std::ofstream(name + ".png") << "\x89PN";
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image is not a PNG file"});
}

TEST_F(Pictures, MissingFileCannotBeOpened)
{
    const std::string name = dir + "/absent";
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png image could not be opened"});
}

TEST_F(Pictures, BrokenHeaderIsAnInitIoError)
{
    // A PNG signature followed by a truncated header chunk.
    const std::string name = dir + "/broken";
    std::ofstream(name + ".png", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0", 18);
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png error during init_io"});
    EXPECT_TRUE(untouched(fb->backBuf, 0xAB));
}

TEST_F(Pictures, TruncatedImageDataIsAReadError)
{
    const std::string name = picture("cut", 800, 480);
    const auto size = std::filesystem::file_size(name + ".png");
    std::filesystem::resize_file(name + ".png", size / 2);
    LogCapture log;
    EXPECT_NE(loadPngInto(name.c_str(), 0, 0, fb, 1), 0);
    EXPECT_EQ(log.all(), std::vector<std::string>{name + ".png error during reading image"});
}
