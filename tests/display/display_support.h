#pragma once
// Helpers of the display tests: message capture, paths that bypass the root mapping,
// test pictures written with libpng, pixel access.
#include "display/display_log.h"
#include "display/framebuffer.h"
#include "display/snapshot.h"

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
    const bool alpha = colorType == PNG_COLOR_TYPE_RGBA;
    const int channels = alpha ? 4 : 3;
    return writePngRows(path.c_str(), width, height, alpha, [&](int y, unsigned char* row) {
        for (int x = 0; x < width; ++x) {
            unsigned char px[4];
            pixel(x, y, px);
            for (int c = 0; c < channels; ++c)
                row[static_cast<size_t>(x) * channels + c] = px[c];
        }
    }) == 0;
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
