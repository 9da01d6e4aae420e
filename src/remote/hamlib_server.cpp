// The Hamlib network amplifier server thread: one thread serves every connection with
// poll, each connection with a bounded line buffer; replies are a few short lines.
#include "remote/hamlib_server.h"

#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "remote/hamlib_protocol.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int POLL_MS = 200;  // how soon the thread sees running drop

// A socket closed when its owner goes.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Socket& operator=(Socket&& o) noexcept
    {
        if (this != &o) {
            reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    ~Socket() { reset(); }
    void reset()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

struct Client {
    Socket sock;
    std::string line;       // bytes of the line being received
    bool overlong = false;  // the line passed HAMLIB_LINE_MAX: skipped up to its end
};

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

Socket openListener(const HamlibSettings& s)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(s.port));
    if (inet_pton(AF_INET, s.address.c_str(), &addr.sin_addr) != 1) {
        logErr("Hamlib: bad address %s\n", s.address.c_str());
        return Socket();
    }
    Socket sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (sock.fd() < 0)
        return sock;
    const int on = 1;
    setsockopt(sock.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(sock.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(sock.fd(), 8) != 0) {
        logErr("Hamlib: can't listen on %s:%d: %s\n", s.address.c_str(), s.port, strerror(errno));
        return Socket();
    }
    return sock;
}

// Sends the whole reply; false when the client does not take it (gone, or not reading).
bool sendAll(int fd, const std::string& reply)
{
    size_t done = 0;
    while (done < reply.size()) {
        const ssize_t n = send(fd, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads what the client sent and answers each complete line. False when the connection
// is to be closed (end, error, quit, or a client that does not read its replies).
bool serveClient(Works* works, Client& c, bool allowSet)
{
    char buf[512];
    const ssize_t n = recv(c.sock.fd(), buf, sizeof buf, 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    std::string reply;
    bool keep = true;
    for (ssize_t i = 0; i < n && keep; i++) {
        const char ch = buf[i];
        if (ch != '\n') {
            if (c.line.size() < HAMLIB_LINE_MAX)
                c.line += ch;
            else
                c.overlong = true;
            continue;
        }
        if (c.overlong) {
            logErr("Hamlib: line longer than %zu bytes refused\n", HAMLIB_LINE_MAX);
            reply += "RPRT -1\n";
        } else if (answerHamlibLine(works, c.line, allowSet, reply) != 0) {
            keep = false;
        }
        c.line.clear();
        c.overlong = false;
    }
    if (!reply.empty() && !sendAll(c.sock.fd(), reply))
        return false;
    return keep;
}

void acceptClient(int listenFd, std::array<Client, HAMLIB_MAX_CLIENTS>& clients)
{
    Socket sock(accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (sock.fd() < 0)
        return;
    for (Client& c : clients) {
        if (c.sock.fd() < 0) {
            c.sock = std::move(sock);
            c.line.clear();
            c.overlong = false;
            return;
        }
    }
    logErr("Hamlib: %d clients already connected, connection refused\n", HAMLIB_MAX_CLIENTS);
}

} // namespace

HamlibSettings parseHamlibSettings(std::string_view text)
{
    HamlibSettings s;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::string_view line = trimmed(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.size() > 128) {
            logErr("Hamlib settings: line ignored\n");
            continue;
        }
        const std::string key(trimmed(line.substr(0, colon)));
        const std::string value(trimmed(line.substr(colon + 1)));
        char* stop = nullptr;
        if (key == "Port") {
            const long port = strtol(value.c_str(), &stop, 10);
            if (stop != value.c_str() && *stop == '\0' && port > 0 && port < 65536)
                s.port = static_cast<int>(port);
            else
                logErr("Hamlib settings: bad port \"%s\"\n", value.c_str());
        } else if (key == "Address") {
            in_addr probe{};
            if (inet_pton(AF_INET, value.c_str(), &probe) == 1)
                s.address = value;
            else
                logErr("Hamlib settings: bad address \"%s\"\n", value.c_str());
        } else if (key == "AllowSet") {
            s.allowSet = value == "1";
        } else {
            logErr("Hamlib settings: unknown key \"%s\"\n", key.c_str());
        }
    }
    return s;
}

HamlibSettings readHamlibSettings()
{
    std::string text;
    if (!readWholeFile(HAMLIB_SETTINGS_PATH, text))
        return HamlibSettings();
    return parseHamlibSettings(text);
}

void* HamlibServer(void* arg)
{
    auto* works = static_cast<Works*>(arg);
    const HamlibSettings settings = readHamlibSettings();
    if (settings.port == 0)
        return nullptr;
    Socket listener = openListener(settings);
    if (listener.fd() < 0)
        return nullptr;
    logErr("Hamlib: listening on %s:%d, set commands %s\n", settings.address.c_str(), settings.port,
           settings.allowSet ? "allowed" : "refused");

    std::array<Client, HAMLIB_MAX_CLIENTS> clients;
    while (works->running) {
        std::array<pollfd, HAMLIB_MAX_CLIENTS + 1> fds{};
        fds[0] = {listener.fd(), POLLIN, 0};
        for (size_t i = 0; i < clients.size(); i++)
            fds[i + 1] = {clients[i].sock.fd(), POLLIN, 0};
        if (poll(fds.data(), fds.size(), POLL_MS) <= 0)
            continue;
        for (size_t i = 0; i < clients.size(); i++) {
            if (clients[i].sock.fd() < 0 || fds[i + 1].revents == 0)
                continue;
            if (!serveClient(works, clients[i], settings.allowSet))
                clients[i].sock.reset();
        }
        if (fds[0].revents & POLLIN)
            acceptClient(listener.fd(), clients);
    }
    logErr("Hamlib: server stopped\n");
    return nullptr;
}
