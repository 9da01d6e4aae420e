// screenshot: writes what a framebuffer shows as a PNG file.
//
//   screenshot FRAMEBUFFER OUT.png
//
// FRAMEBUFFER is a simulated panel (a regular file of 800 x 480 pixels of 4 bytes, blue,
// green, red, unused, as the program stores them) or a Linux framebuffer device, whose
// geometry and pixel format (32 or 16 bits) are read from the device. The path is taken
// as given: the simulated unit names its own dev/fb0.
#include "display/framebuffer.h"
#include "display/snapshot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int fail(const char* what, const char* path)
{
    std::fprintf(stderr, "screenshot: %s %s: %s\n", what, path, std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FRAMEBUFFER OUT.png\n", argv[0]);
        return 2;
    }
    const char* in = argv[1];
    const char* out = argv[2];
    const int fd = open(in, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail("cannot open", in);
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return fail("cannot stat", in);

    if (S_ISREG(st.st_mode)) {
        if (st.st_size < static_cast<off_t>(SIM_PANEL_BYTES)) {
            std::fprintf(stderr, "screenshot: %s holds %lld bytes, a panel needs %u\n", in,
                         static_cast<long long>(st.st_size), SIM_PANEL_BYTES);
            return 1;
        }
        std::vector<unsigned char> pixels(SIM_PANEL_BYTES);
        size_t got = 0;
        while (got < pixels.size()) {
            const ssize_t n = read(fd, pixels.data() + got, pixels.size() - got);
            if (n <= 0)
                return fail("cannot read", in);
            got += static_cast<size_t>(n);
        }
        close(fd);
        if (writeScreenPng(pixels.data(), SIM_PANEL_WIDTH, SIM_PANEL_HEIGHT, SIM_PANEL_WIDTH * 4, 4, out) != 0)
            return fail("cannot write", out);
        return 0;
    }

    fb_var_screeninfo var {};
    fb_fix_screeninfo fix {};
    if (ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0 || ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0)
        return fail("not a framebuffer:", in);
    const unsigned int pixelSize = var.bits_per_pixel == 32 ? 4 : var.bits_per_pixel == 16 ? 2 : 0;
    if (pixelSize == 0) {
        std::fprintf(stderr, "screenshot: %s has %u bits per pixel (32 or 16 supported)\n", in,
                     var.bits_per_pixel);
        return 1;
    }
    const size_t size = static_cast<size_t>(fix.line_length) * (var.yoffset + var.yres);
    void* mem = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (mem == MAP_FAILED)
        return fail("cannot map", in);
    const auto* first = static_cast<const unsigned char*>(mem) +
                        static_cast<size_t>(var.yoffset) * fix.line_length + static_cast<size_t>(var.xoffset) * pixelSize;
    const int rc = writeScreenPng(first, static_cast<int>(var.xres), static_cast<int>(var.yres),
                                  fix.line_length, pixelSize, out);
    munmap(mem, size);
    close(fd);
    if (rc != 0)
        return fail("cannot write", out);
    return 0;
}
