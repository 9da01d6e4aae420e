#pragma once
// Helpers of the display tests: message capture, paths that bypass the root mapping,
// test pictures written with libpng, pixel access.
#include "display/display_log.h"
#include "display/framebuffer.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace displaytest {

// Collects every display message while it lives.
class LogCapture {
public:
    LogCapture()
    {
        lines().clear();
        setDisplayLogSink(&LogCapture::sink);
    }
    ~LogCapture() { setDisplayLogSink(nullptr); }
    std::vector<std::string> all() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return lines();
    }
    bool has(const std::string& line) const
    {
        for (const auto& l : all())
            if (l == line)
                return true;
        return false;
    }

private:
    static void sink(int, const char* line)
    {
        std::lock_guard<std::mutex> lock(mutex());
        lines().emplace_back(line);
    }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> l;
        return l;
    }
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
};

// An absolute path written relative to the working directory, so that the root mapping
// (which only prefixes absolute paths) leaves it alone whatever AMPCTL_ROOT is.
inline std::string unmapped(const std::string& absolute)
{
    return std::filesystem::relative(absolute, std::filesystem::current_path()).string();
}

inline const char* DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const char* DEJAVU_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
inline const char* PTSANS_BOLD = "/usr/share/fonts/truetype/paratype/PTS75F.ttf";

// Writes a PNG of the given colour type (PNG_COLOR_TYPE_RGBA or _RGB) with 8-bit samples;
// pixel(x, y) gives red, green, blue, alpha.
inline bool writePng(const std::string& path, int width, int height, int colorType,
                     const std::function<void(int, int, unsigned char*)>& pixel)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : 3;
    std::vector<unsigned char> row(static_cast<size_t>(width) * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char px[4];
            pixel(x, y, px);
            for (int c = 0; c < channels; ++c)
                row[static_cast<size_t>(x) * channels + c] = px[c];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return true;
}

inline unsigned char* pixelAt(FrameBuffer* fb, unsigned char* buf, int x, int y)
{
    return buf + static_cast<size_t>(y) * fb->lineSize + static_cast<size_t>(x) * fb->pixelSize;
}

// A fresh directory under the build's test output (kept for looking at) or under /tmp.
inline std::string outputDir(const std::string& name)
{
#ifdef AMPCTL_BUILD_DIR
    const std::filesystem::path base = std::filesystem::path(AMPCTL_BUILD_DIR) / "test-output" / "display";
#else
    const std::filesystem::path base = std::filesystem::temp_directory_path() / "ampctl-display";
#endif
    const std::filesystem::path dir = base / name;
    std::filesystem::create_directories(dir);
    return dir.string();
}

} // namespace displaytest
