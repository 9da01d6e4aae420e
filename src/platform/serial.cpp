#include "platform/serial.h"

#include "platform/paths.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

int openSerialPort(std::string_view absPath, const SerialSettings& settings)
{
    const std::string path = mapPath(absPath);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return SERIAL_OPEN_FAILED;
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_iflag = settings.iflag;
    tio.c_oflag = settings.oflag;
    tio.c_cflag = settings.cflag;
    tio.c_lflag = settings.lflag;
    tio.c_cc[VMIN] = settings.vmin;
    tio.c_cc[VTIME] = settings.vtime;
    tcflush(fd, TCIFLUSH);
    if (cfsetispeed(&tio, settings.speed) != 0 || cfsetospeed(&tio, settings.speed) != 0
        || tcsetattr(fd, TCSANOW, &tio) != 0) {
        close(fd);
        return SERIAL_SETUP_FAILED;
    }
    return fd;
}

int serialBytesWaiting(int fd)
{
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

SerialRead serialRead(int fd, void* buffer, size_t size, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs);
    if (ready < 0)
        return {errno == EINTR ? SerialStatus::Timeout : SerialStatus::HungUp, 0};
    if (ready == 0)
        return {SerialStatus::Timeout, 0};
    if (!(p.revents & POLLIN))
        return {SerialStatus::HungUp, 0};  // POLLHUP, POLLERR or POLLNVAL alone
    const ssize_t n = read(fd, buffer, size);
    if (n > 0)
        return {SerialStatus::Data, static_cast<size_t>(n)};
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return {SerialStatus::Timeout, 0};
    return {SerialStatus::HungUp, 0};  // readable with nothing to read, or EIO
}

size_t writeSerialAll(int fd, const void* data, size_t length, int attempts)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    int stalls = 0;
    while (done < length) {
        const ssize_t n = write(fd, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stalls = 0;
        } else if ((n == 0 || errno == EINTR || errno == EAGAIN) && ++stalls < attempts) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            break;
        }
    }
    return done;
}
