// The framebuffer record, the frame copies and the line primitives, pixel-exact
// at the edges the Part names; fbInit on a simulated panel, headless, and a console that
// is not there.
#include "display/framebuffer.h"

#include "core/works.h"
#include "display_support.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace displaytest;

namespace {

struct MemFb {
    explicit MemFb(int w = 800, int h = 480, unsigned int ps = 4) : fb(fbCreateInMemory(w, h, ps)) {}
    ~MemFb() { fbDestroy(fb); }
    FrameBuffer* fb;
};

bool isSet(FrameBuffer* fb, int x, int y)
{
    const unsigned char* p = pixelAt(fb, fb->drawBuf, x, y);
    for (unsigned int i = 0; i < fb->pixelSize; ++i)
        if (p[i])
            return true;
    return false;
}

size_t countSet(FrameBuffer* fb, unsigned char* buf)
{
    size_t n = 0;
    for (unsigned int o = 0; o < fb->memSize; o += fb->pixelSize) {
        bool set = false;
        for (unsigned int i = 0; i < fb->pixelSize; ++i)
            set = set || buf[o + i];
        n += set;
    }
    return n;
}

} // namespace

TEST(FrameBuffer, InMemoryRecordHasThePartsGeometry)
{
    MemFb m;
    ASSERT_NE(m.fb, nullptr);
    EXPECT_EQ(m.fb->sizeX, 800);
    EXPECT_EQ(m.fb->sizeY, 480);
    EXPECT_EQ(m.fb->pixelSize, 4u);
    EXPECT_EQ(m.fb->lineSize, 3200u);
    EXPECT_EQ(m.fb->memSize, 1536000u);
}

TEST(FrameBuffer, PixelSizeFromBitsPerPixel)
{
    EXPECT_EQ(fbPixelSizeFromBits(4), 1u);
    EXPECT_EQ(fbPixelSizeFromBits(8), 1u);
    EXPECT_EQ(fbPixelSizeFromBits(5), 2u);
    EXPECT_EQ(fbPixelSizeFromBits(15), 2u);
    EXPECT_EQ(fbPixelSizeFromBits(16), 2u);
    EXPECT_EQ(fbPixelSizeFromBits(24), 3u);
    EXPECT_EQ(fbPixelSizeFromBits(32), 4u);
    EXPECT_EQ(fbPixelSizeFromBits(12), 0u); // "Unknown pixel format"
}

TEST(DrawLine, CoincidentEndPointsDrawNothing)
{
    MemFb m;
    DrawLine(100, 100, 100, 100, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 0u);
}

TEST(DrawHorizontalLine, EndColumnIsNotDrawn)
{
    MemFb m;
    DrawHorizontalLine(10, 5, 10, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 0u);
    DrawHorizontalLine(20, 5, 10, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 0u);
    DrawHorizontalLine(10, 5, 20, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 10u);
    EXPECT_FALSE(isSet(m.fb, 9, 5));
    for (int x = 10; x < 20; ++x)
        EXPECT_TRUE(isSet(m.fb, x, 5)) << x;
    EXPECT_FALSE(isSet(m.fb, 20, 5));
}

TEST(DrawLine, BresenhamPixelsOfBothMajorAxes)
{
    MemFb m;
    DrawLine(0, 0, 5, 2, 255, 255, 255, m.fb, 0);
    const int xMajor[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 6u);
    for (auto& p : xMajor)
        EXPECT_TRUE(isSet(m.fb, p[0], p[1])) << p[0] << "," << p[1];

    MemFb n;
    DrawLine(10, 20, 8, 15, 255, 255, 255, n.fb, 0);
    // dx = 2, dy = 5 (y major, both steps negative): error = 2*2 - 5 = -1.
    const int yMajor[][2] = {{10, 20}, {10, 19}, {9, 18}, {9, 17}, {8, 16}, {8, 15}};
    EXPECT_EQ(countSet(n.fb, n.fb->drawBuf), 6u);
    for (auto& p : yMajor)
        EXPECT_TRUE(isSet(n.fb, p[0], p[1])) << p[0] << "," << p[1];
}

TEST(DrawLine, BothEndPointsAreDrawn)
{
    MemFb m;
    DrawLine(300, 400, 100, 50, 255, 255, 255, m.fb, 0);
    EXPECT_TRUE(isSet(m.fb, 300, 400));
    EXPECT_TRUE(isSet(m.fb, 100, 50));
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 351u); // |dy| + 1 pixels
}

TEST(DrawLine, NegativeColumnsWrapOntoThePreviousRow)
{
    MemFb m;
    DrawLine(-5, 10, 5, 10, 255, 255, 255, m.fb, 0);
    for (int x = 795; x < 800; ++x)
        EXPECT_TRUE(isSet(m.fb, x, 9)) << x;
    for (int x = 0; x <= 5; ++x)
        EXPECT_TRUE(isSet(m.fb, x, 10)) << x;
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 11u);
}

TEST(DrawLine, ColumnsPastTheRightEdgeWrapOntoTheNextRow)
{
    MemFb m;
    DrawLine(797, 10, 802, 10, 255, 255, 255, m.fb, 0);
    for (int x = 797; x < 800; ++x)
        EXPECT_TRUE(isSet(m.fb, x, 10));
    for (int x = 0; x < 3; ++x)
        EXPECT_TRUE(isSet(m.fb, x, 11));
}

TEST(DrawLine, TheLastPixelOfTheBufferIsNeverDrawn)
{
    MemFb m;
    DrawLine(790, 479, 799, 479, 255, 255, 255, m.fb, 0);
    EXPECT_TRUE(isSet(m.fb, 798, 479));
    EXPECT_FALSE(isSet(m.fb, 799, 479));
    DrawLine(799, 470, 799, 479, 255, 255, 255, m.fb, 0);
    EXPECT_TRUE(isSet(m.fb, 799, 478));
    EXPECT_FALSE(isSet(m.fb, 799, 479));
}

TEST(DrawLine, PixelsOutsideTheBufferAreDropped)
{
    MemFb m;
    DrawLine(-100, -100, -10, -50, 255, 255, 255, m.fb, 0);
    DrawLine(100, 480, 700, 900, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 0u);
    // Far off both sides: the offsets wrap through rows but never leave the buffer.
    DrawLine(-5000, 5, 5000, 7, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->backBuf), 0u);
    // A crossing line only writes inside: the top-left run is there.
    MemFb n;
    DrawLine(-10, -10, 10, 10, 255, 255, 255, n.fb, 0);
    for (int i = 0; i <= 10; ++i)
        EXPECT_TRUE(isSet(n.fb, i, i));
}

TEST(Colours, ThirtyTwoBitBytesAreBlueGreenRedZero)
{
    MemFb m;
    std::memset(m.fb->drawBuf, 0xEE, m.fb->memSize);
    DrawHorizontalLine(3, 4, 4, 255, 128, 0, m.fb, 0);
    const unsigned char* p = pixelAt(m.fb, m.fb->drawBuf, 3, 4);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 128);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 0);
    DrawLine(10, 10, 11, 10, 255, 128, 0, m.fb, 0);
    p = pixelAt(m.fb, m.fb->drawBuf, 11, 10);
    EXPECT_EQ(std::vector<unsigned char>(p, p + 4), (std::vector<unsigned char>{0, 128, 255, 0}));
}

TEST(Colours, SixteenBitBytesAreRgb565LowByteFirst)
{
    MemFb m(800, 480, 2);
    ASSERT_NE(m.fb, nullptr);
    EXPECT_EQ(m.fb->lineSize, 1600u);
    DrawHorizontalLine(3, 4, 4, 255, 128, 0, m.fb, 0);
    const unsigned char* p = pixelAt(m.fb, m.fb->drawBuf, 3, 4);
    EXPECT_EQ(p[0], 0x00);
    EXPECT_EQ(p[1], 0xFC);
    DrawLine(0, 0, 1, 0, 0x1F, 0xFF, 0xF8, m.fb, 0);
    p = pixelAt(m.fb, m.fb->drawBuf, 1, 0);
    EXPECT_EQ(p[0], ((0xFF & 0x1C) << 3 | (0xF8 >> 3)) & 0xFF); // 0xFF
    EXPECT_EQ(p[1], ((0x1F >> 3) << 3) | (0xFF >> 5));         // 0x1F
    // The last pixel of a 16-bit buffer is out of reach of a line as well.
    DrawLine(798, 479, 799, 479, 255, 255, 255, m.fb, 0);
    EXPECT_TRUE(isSet(m.fb, 798, 479));
    EXPECT_FALSE(isSet(m.fb, 799, 479));
}

TEST(Colours, OtherPixelSizesDrawNothing)
{
    MemFb m(100, 100, 3);
    ASSERT_NE(m.fb, nullptr);
    DrawLine(0, 0, 50, 50, 255, 255, 255, m.fb, 0);
    DrawHorizontalLine(0, 5, 50, 255, 255, 255, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 0u);
}

TEST(Buffers, ToBackSelectsTheBackgroundAndTheCopiesPresent)
{
    MemFb m;
    DrawHorizontalLine(0, 0, 10, 1, 2, 3, m.fb, 1);
    EXPECT_EQ(countSet(m.fb, m.fb->backBuf), 10u);
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 0u);
    fbSetBack(m.fb);
    EXPECT_EQ(std::memcmp(m.fb->drawBuf, m.fb->backBuf, m.fb->memSize), 0);
    DrawLine(0, 1, 20, 1, 9, 9, 9, m.fb, 0);
    EXPECT_EQ(countSet(m.fb, m.fb->screenMem), 0u);
    fbRealize(m.fb);
    EXPECT_EQ(std::memcmp(m.fb->screenMem, m.fb->drawBuf, m.fb->memSize), 0);
    EXPECT_EQ(countSet(m.fb, m.fb->backBuf), 10u);
}

TEST(DrawRect, OutlineWithTheLinesOfThePart)
{
    MemFb m;
    Works works;
    works.fb = m.fb;
    DrawRect(&works, 10, 20, 30, 40, 255, 255, 255);
    // Verticals include both ends; horizontals stop before x1 (covered by the vertical).
    EXPECT_TRUE(isSet(m.fb, 10, 20));
    EXPECT_TRUE(isSet(m.fb, 30, 40));
    EXPECT_TRUE(isSet(m.fb, 29, 40));
    EXPECT_TRUE(isSet(m.fb, 30, 20));
    EXPECT_FALSE(isSet(m.fb, 31, 20));
    EXPECT_FALSE(isSet(m.fb, 20, 30));
    EXPECT_EQ(countSet(m.fb, m.fb->drawBuf), 2u * 21 + 2u * 19);
    EXPECT_EQ(countSet(m.fb, m.fb->backBuf), 0u);
}

TEST(FbInit, RegularFileIsASimulatedPanelMappedShared)
{
    const std::string dir = outputDir("fbinit");
    const std::string path = dir + "/fb0";
    { std::ofstream(path, std::ios::binary | std::ios::trunc); } // empty: extended to a panel
    FrameBuffer* fb = fbInitDevice(path.c_str());
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(fb->sizeX, 800);
    EXPECT_EQ(fb->sizeY, 480);
    EXPECT_EQ(fb->pixelSize, 4u);
    EXPECT_EQ(fb->memSize, 1536000u);
    EXPECT_EQ(fb->headless, 0);
    EXPECT_EQ(std::filesystem::file_size(path), 1536000u);
    std::memset(fb->drawBuf, 0, fb->memSize);
    DrawHorizontalLine(0, 479, 800, 255, 128, 0, fb, 0);
    fbRealize(fb);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 1536000u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1536000 - 4]), 0);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1536000 - 3]), 128);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1536000 - 2]), 255);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0);
    fbDestroy(fb);
}

TEST(FbInit, MissingDeviceFailsWithThePartsMessage)
{
    LogCapture log;
    EXPECT_EQ(fbInitDevice("no-such-dir/fb0"), nullptr);
    EXPECT_TRUE(log.has("Unable to read framebuffer device: /dev/fb0\n"));
}

TEST(FbInit, DeviceWithoutScreenInfoFailsWithThePartsMessages)
{
    LogCapture log;
    EXPECT_EQ(fbInitDevice("/dev/null"), nullptr);
    const auto lines = log.all();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Unable to read screen info.\n");
    EXPECT_EQ(lines[1], "Do you have read+write privilages to /dev/fb0?\n");
}

// fbInit goes through the root mapping: run it in a simulated root of its own (the root
// prefix is read once per process, as each test of ctest runs alone).
class FbInitRoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() / ("ampctl-fbroot-" + std::to_string(getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "dev");
        setenv("AMPCTL_ROOT", dir.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("AMPCTL_ROOT");
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
};

TEST_F(FbInitRoot, SimulatedPanelHeadlessAndNoConsole)
{
    if (rootPrefix() != dir.string())
        GTEST_SKIP() << "the root prefix was fixed earlier in this process; ctest runs this test alone";
    // A FIFO where the console would be must not block the cursor command.
    ASSERT_EQ(mkfifo((dir / "dev" / "tty0").c_str(), 0600), 0);
    LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    FrameBuffer* headless = fbInit();
    ASSERT_NE(headless, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(headless->headless, 1);
    EXPECT_EQ(headless->memSize, 1536000u);
    bool said = false;
    for (const auto& l : log.all())
        said = said || l.find("running headless") != std::string::npos;
    EXPECT_TRUE(said);
    // Drawing and presenting are harmless.
    DrawLine(0, 0, 799, 479, 255, 255, 255, headless, 0);
    fbRealize(headless);
    fbSetBack(headless);

    // With a regular file at dev/fb0 the panel is that file.
    std::filesystem::remove(dir / "dev" / "tty0");
    { std::ofstream((dir / "dev" / "fb0").string(), std::ios::binary) << std::string(1536000, '\0'); }
    FrameBuffer* panel = fbInit();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->headless, 0);
    DrawHorizontalLine(0, 0, 1, 10, 20, 30, panel, 0);
    fbRealize(panel);
    std::ifstream in((dir / "dev" / "fb0").string(), std::ios::binary);
    unsigned char first[4] = {};
    in.read(reinterpret_cast<char*>(first), 4);
    EXPECT_EQ(first[0], 30);
    EXPECT_EQ(first[1], 20);
    EXPECT_EQ(first[2], 10);
    fbDestroy(panel);
    fbDestroy(headless);
}
