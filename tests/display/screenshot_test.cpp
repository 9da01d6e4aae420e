// The screenshot tool and the snapshot writer: a simulated panel file (blue, green, red,
// unused per pixel) becomes an RGB PNG with the same colours; 16-bit pixels are widened.
#include "display/framebuffer.h"
#include "display/snapshot.h"
#include "display_support.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace displaytest;

namespace {

struct Image {
    unsigned width = 0, height = 0;
    png_uint_32 format = 0;
    std::vector<unsigned char> rgb;
};

// Reads a PNG as 8-bit RGB with libpng's simplified interface; format is the file's own.
Image readPng(const std::string& path)
{
    Image im;
    png_image pi{};
    pi.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&pi, path.c_str()))
        return im;
    im.format = pi.format;
    pi.format = PNG_FORMAT_RGB;
    im.rgb.resize(PNG_IMAGE_SIZE(pi));
    if (!png_image_finish_read(&pi, nullptr, im.rgb.data(), 0, nullptr)) {
        png_image_free(&pi);
        return Image{};
    }
    im.width = pi.width;
    im.height = pi.height;
    return im;
}

} // namespace

TEST(Screenshot, PanelFileBecomesAnRgbPng)
{
#ifndef AMPCTL_BUILD_DIR
    GTEST_SKIP() << "needs the build directory";
#else
    const std::string tool = std::string(AMPCTL_BUILD_DIR) + "/screenshot";
    ASSERT_TRUE(std::filesystem::exists(tool));
    const std::string dir = outputDir("screenshot");
    std::vector<unsigned char> panel(SIM_PANEL_BYTES);
    for (size_t i = 0; i < panel.size(); i += 4) {
        const size_t p = i / 4;
        panel[i] = static_cast<unsigned char>(p);          // blue
        panel[i + 1] = static_cast<unsigned char>(p >> 8); // green
        panel[i + 2] = static_cast<unsigned char>(p * 3);  // red
        panel[i + 3] = 0;
    }
    std::ofstream(dir + "/fb0", std::ios::binary).write(reinterpret_cast<const char*>(panel.data()), panel.size());
    const std::string out = dir + "/shot.png";
    std::filesystem::remove(out);
    ASSERT_EQ(std::system((tool + " " + dir + "/fb0 " + out).c_str()), 0);
    const Image im = readPng(out);
    ASSERT_EQ(im.width, 800u);
    ASSERT_EQ(im.height, 480u);
    EXPECT_EQ(im.format, static_cast<png_uint_32>(PNG_FORMAT_RGB));
    for (size_t p : {size_t{0}, size_t{1}, size_t{799}, size_t{800}, size_t{123456}, size_t{383999}}) {
        EXPECT_EQ(im.rgb[p * 3], static_cast<unsigned char>(p * 3)) << p;
        EXPECT_EQ(im.rgb[p * 3 + 1], static_cast<unsigned char>(p >> 8)) << p;
        EXPECT_EQ(im.rgb[p * 3 + 2], static_cast<unsigned char>(p)) << p;
    }
    // Refusals: a short file, a missing file, wrong arguments.
    std::ofstream(dir + "/short", std::ios::binary) << "abc";
    EXPECT_NE(std::system((tool + " " + dir + "/short " + dir + "/x.png 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " " + dir + "/absent " + dir + "/x.png 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "/x.png"));
#endif
}

TEST(Screenshot, SixteenBitPixelsAreWidened)
{
    FrameBuffer* fb = fbCreateInMemory(4, 2, 2);
    DrawHorizontalLine(0, 0, 4, 255, 255, 255, fb, 0);
    DrawHorizontalLine(0, 1, 4, 255, 128, 0, fb, 0);
    fbRealize(fb);
    const std::string out = outputDir("screenshot") + "/rgb565.png";
    ASSERT_EQ(writeFrameBufferPng(fb, out.c_str()), 0);
    const Image im = readPng(out);
    ASSERT_EQ(im.width, 4u);
    ASSERT_EQ(im.height, 2u);
    EXPECT_EQ(im.rgb[0], 255);
    EXPECT_EQ(im.rgb[1], 255);
    EXPECT_EQ(im.rgb[2], 255);
    EXPECT_EQ(im.rgb[12], 255); // red 11111
    EXPECT_EQ(im.rgb[13], 130); // green 100000 widened
    EXPECT_EQ(im.rgb[14], 0);
    fbDestroy(fb);
}

TEST(GeneratedPictures, Are800x480Rgba)
{
#ifndef AMPCTL_BUILD_DIR
    GTEST_SKIP() << "needs the build directory";
#else
    for (const char* name : {"start", "start120", "status", "statusB", "img1", "img1b", "img3", "img3b", "m5a"}) {
        const std::string path = std::string(AMPCTL_BUILD_DIR) + "/pictures/" + name + ".png";
        FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << path;
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        EXPECT_EQ(png_get_image_width(png, info), 800u) << name;
        EXPECT_EQ(png_get_image_height(png, info), 480u) << name;
        EXPECT_EQ(png_get_color_type(png, info), PNG_COLOR_TYPE_RGBA) << name;
        EXPECT_EQ(png_get_bit_depth(png, info), 8) << name;
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
    }
#endif
}
