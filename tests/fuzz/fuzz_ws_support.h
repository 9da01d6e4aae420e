#pragma once
// Shared set-up of the remote-connection fuzz targets: a works record with a small
// in-memory screen (so that whole pictures fit in a few chunks), the transceiver and CAT
// ports as non-blocking pipes, and an empty PATH so that no command a peer can ask for
// (reboot) runs anything.
#include "core/setup.h"
#include "display/framebuffer.h"
#include "fuzz_support.h"
#include "remote/ws_reader.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

struct WsFuzzUnit {
    WsFuzzUnit()
    {
        scratchRoot();
        std::filesystem::create_directories(scratchRoot() + "/emptybin");
        setenv("PATH", (scratchRoot() + "/emptybin").c_str(), 1);
        initSetup(works.get());
        works->fb = fbCreateInMemory(48, 32, 4);
        pipe2(ser, O_NONBLOCK | O_CLOEXEC);
        pipe2(cat, O_NONBLOCK | O_CLOEXEC);
        works->serFD = ser[1];
        works->catFD = cat[1];
        works->running = 1;
    }
    ~WsFuzzUnit()
    {
        fbDestroy(works->fb);
        for (int fd : {ser[0], ser[1], cat[0], cat[1]})
            close(fd);
    }
    // Bytes written to a port since the last call.
    static size_t drain(int fd)
    {
        size_t total = 0;
        char buf[4096];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            total += static_cast<size_t>(n);
        return total;
    }
    // Puts back what one input may change.
    void reset()
    {
        works->divideSetting = 0;
        setSetupSwitch(works->setup, &Orvosetup::fftMirror, '0');
        works->tinyCmd = 0;
        std::memset(works->wsCmd, 0, sizeof works->wsCmd);
        drain(ser[0]);
        drain(cat[0]);
    }
    FreshWorks works = freshWorks();
    int ser[2] = {-1, -1};
    int cat[2] = {-1, -1};
};

// The input as a source handing out at most `step` bytes per read.
inline WsSource bytesSource(const uint8_t* data, size_t size, size_t step)
{
    auto at = std::make_shared<size_t>(0);
    return [data, size, step, at](unsigned char* out, size_t length) -> long {
        const size_t n = std::min({length, step, size - *at});
        if (n == 0)
            return 0;
        std::memcpy(out, data + *at, n);
        *at += n;
        return static_cast<long>(n);
    };
}

} // namespace fuzz
