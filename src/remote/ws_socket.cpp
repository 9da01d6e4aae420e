#include "remote/ws_socket.h"

#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
constexpr int POLL_STEP_MS = 200;
}

WsSource wsSocketSource(Works* works, int fd, const int64_t* deadlineMs)
{
    return [works, fd, deadlineMs](unsigned char* out, size_t length) -> long {
        for (;;) {
            if (!works->running) {
                errno = ECANCELED;
                return -1;
            }
            int wait = POLL_STEP_MS;
            if (deadlineMs && *deadlineMs != 0) {
                const int64_t left = *deadlineMs - monoMillis();
                if (left <= 0) {
                    logSys(LOG_ERR, "peer silent too long: connection ended");
                    errno = ETIMEDOUT;
                    return -1;
                }
                wait = static_cast<int>(std::min<int64_t>(left, POLL_STEP_MS));
            }
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, wait);
            if (ready < 0 && errno != EINTR)
                return -1;
            if (ready <= 0)
                continue;
            const ssize_t n = ::recv(fd, out, length, 0);
            if (n < 0 && errno == EINTR)
                continue;
            return n < 0 ? -1 : static_cast<long>(n);
        }
    };
}

long wsWriteAll(int fd, const void* data, size_t length)
{
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::send(fd, p + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
}

void wsPause(Works* works, int ms)
{
    const int64_t end = monoMillis() + ms;
    while (works->running) {
        const int64_t left = end - monoMillis();
        if (left <= 0)
            return;
        sleepMs(std::min<int64_t>(left, 50));
    }
}

void wsSetSendTimeout(int fd, int seconds)
{
    timeval tv{};
    tv.tv_sec = seconds;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}
