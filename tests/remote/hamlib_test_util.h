#pragma once
// Helpers of the Hamlib server tests: a free loopback port, a line client that speaks to
// the server the way Hamlib's NET amplifier backend does, and a run of Hamlib's own
// command-line amplifier client (Debian's /usr/bin/ampctl, never our build's ampctl).
#include "platform/clock.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace hamlibtest {

constexpr const char* HAMLIB_CLIENT = "/usr/bin/ampctl";

inline sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port nobody listens on at the moment of the call.
inline int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class LineClient {
public:
    explicit LineClient(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(port);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~LineClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void sendRaw(const std::string& bytes) { (void)!::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // One reply line without its line end; "" after `timeout` seconds without one.
    std::string readLine(double timeout = 5)
    {
        const double end = monoSeconds() + timeout;
        for (;;) {
            const size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const double left = end - monoSeconds();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0)
                return "";
            char buf[256];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return "";
            buffer_.append(buf, static_cast<size_t>(n));
        }
    }
    // Sends one command line and reads the first line of its reply.
    std::string ask(const std::string& line)
    {
        sendRaw(line + "\n");
        return readLine();
    }
    // Whether the server closed the connection within `timeout` seconds.
    bool closedByPeer(double timeout)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout * 1000)) <= 0)
            return false;
        char c;
        return ::recv(fd_, &c, 1, 0) == 0;
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

// Asks until the first reply line satisfies pred (the readings follow the board's
// replies a poll later), at most `timeout` seconds; returns the last reply.
template <typename Pred>
std::string askUntil(LineClient& c, const std::string& line, Pred pred, double timeout = 15)
{
    const double end = monoSeconds() + timeout;
    std::string reply;
    do {
        reply = c.ask(line);
        if (pred(reply))
            return reply;
        usleep(100000);
    } while (monoSeconds() < end);
    return reply;
}

// Runs Hamlib's command-line client with model 2 (NET amplifier) against the port, with
// its debug output; returns everything it printed.
inline std::string runHamlibClient(int port, const std::string& commands)
{
    const std::string cmd = "timeout 20 " + std::string(HAMLIB_CLIENT) + " -vvvvv -m 2 -r 127.0.0.1:" +
                            std::to_string(port) + " " + commands + " 2>&1";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

} // namespace hamlibtest
