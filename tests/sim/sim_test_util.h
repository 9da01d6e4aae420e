#pragma once
// Helpers of the simulator's tests: a scratch root directory, and a host that drives the
// board over its pseudo-terminal the way the controller's link does (raw 115200 8N1, CRC
// in lower-case digits, reading the reply byte by byte up to ";").
#include "amplifier/crc8.h"
#include "platform/clock.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace simtest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/ampsim-test-XXXXXX";
        if (mkdtemp(templ.data()))
            path_ = templ;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string hostFrame(std::string_view text)
{
    char crc[4];
    std::snprintf(crc, sizeof crc, "%02x",
                  Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return crc + std::string(text);
}

inline std::string upperCrc(std::string_view text)
{
    char crc[4];
    std::snprintf(crc, sizeof crc, "%02X",
                  Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return crc;
}

class Host {
public:
    explicit Host(const std::string& port)
    {
        fd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios tio{};
        tio.c_iflag = IGNPAR;
        tio.c_cflag = B115200 | CS8 | CREAD | CLOCAL | HUPCL;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 5;
        tcflush(fd_, TCIFLUSH);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Host()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void sendRaw(std::string_view bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    // Sends the command framed as the controller does.
    void send(std::string_view text) { sendRaw(hostFrame(text)); }

    // Reads until ";" or `timeout` seconds of silence; "" when nothing came. Records the
    // times of the first and last bytes and the longest gap between two bytes.
    std::string readReply(double timeout = 1.5)
    {
        std::string out;
        maxGap = 0;
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(timeout * 1000)) <= 0)
                return out;
            char c;
            if (::read(fd_, &c, 1) != 1)
                return out;
            const double now = monoSeconds();
            if (out.empty())
                firstByte = now;
            else if (now - lastByte > maxGap)
                maxGap = now - lastByte;
            lastByte = now;
            out += c;
            if (c == ';')
                return out;
        }
    }
    // Bytes that arrive within `seconds` (to prove silence).
    std::string drain(double seconds)
    {
        std::string out;
        const double end = monoSeconds() + seconds;
        for (;;) {
            const double left = end - monoSeconds();
            if (left <= 0)
                return out;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                out.append(buf, static_cast<size_t>(n));
        }
    }
    std::string exchange(std::string_view text, double timeout = 1.5)
    {
        send(text);
        return readReply(timeout);
    }

    double firstByte = 0;
    double lastByte = 0;
    double maxGap = 0;

private:
    int fd_ = -1;
};

// Whether a reply frame carries the right CRC in upper-case digits.
inline bool upperCrcOk(std::string_view frame)
{
    return frame.size() >= 3 && frame.substr(0, 2) == upperCrc(frame.substr(2));
}

} // namespace simtest
