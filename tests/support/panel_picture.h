#pragma once
// The simulated panel (dev/fb0: 800 x 480, 4 bytes a pixel: blue, green, red, unused)
// compared with a screen picture file, pixel by pixel.
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

// A picture as 8-bit RGB, empty when it cannot be read.
inline std::vector<unsigned char> pictureRgb(const std::string& path, png_uint_32& width)
{
    png_image pi{};
    pi.version = PNG_IMAGE_VERSION;
    std::vector<unsigned char> rgb;
    if (!png_image_begin_read_from_file(&pi, path.c_str()))
        return rgb;
    pi.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(pi));
    width = pi.width;
    if (!png_image_finish_read(&pi, nullptr, rgb.data(), 0, nullptr))
        rgb.clear();
    return rgb;
}

// Pixels of rows 0 .. rows-1 of the panel (blue, green, red, unused) that differ from the picture.
inline size_t differingPixels(const std::string& panel, const std::string& picture, int rows)
{
    png_uint_32 width = 0;
    const std::vector<unsigned char> rgb = pictureRgb(picture, width);
    if (rgb.empty() || width != 800 || panel.size() < 800u * 480u * 4u)
        return SIZE_MAX;
    size_t differ = 0;
    for (size_t p = 0; p < 800u * static_cast<size_t>(rows); p++)
        differ += panel[4 * p + 2] != static_cast<char>(rgb[3 * p]) ||
                  panel[4 * p + 1] != static_cast<char>(rgb[3 * p + 1]) ||
                  panel[4 * p] != static_cast<char>(rgb[3 * p + 2]);
    return differ;
}
