// The Hamlib server thread: one thread serves both ports and every connection with poll,
// each connection with a bounded command buffer and an idle limit; replies are short.
#include "remote/hamlib_server.h"

#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "platform/clock.h"
#include "remote/hamlib_protocol.h"
#include "remote/kpa_protocol.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <span>
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

enum class Dialect { Ampctld, Kpa };

struct Client {
    Socket sock;
    std::string line;         // bytes of the command being received
    bool overlong = false;    // the command passed HAMLIB_LINE_MAX: skipped up to its end
    double lastHeard = 0;     // monotonic seconds of the last bytes received
    int unknown = 0;          // commands not understood on this connection
    int refused = 0;          // writes refused on this connection (KPA1500: no answer form)
    bool overlongLogged = false;
};

// One listening port with its clients, and the count of connections refused because every
// slot was taken, logged as a summary.
struct Port {
    Dialect dialect;
    const char* name;
    Socket listener;
    std::array<Client, HAMLIB_MAX_CLIENTS> clients;
    int refusedPending = 0;       // refusals not yet logged
    double refusalLogged = -1e9;  // when the last refusal line was written
};

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A command as it may go into the log: printable characters only, at most 32.
std::string printable(std::string_view text)
{
    std::string out;
    for (char c : text.substr(0, 32))
        out += c >= 0x20 && c < 0x7f ? c : '?';
    return out;
}

Socket openListener(const char* name, const std::string& address, int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        logErr("%s: bad address %s\n", name, address.c_str());
        return Socket();
    }
    Socket sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (sock.fd() < 0)
        return sock;
    const int on = 1;
    setsockopt(sock.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(sock.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(sock.fd(), 8) != 0) {
        logErr("%s: can't listen on %s:%d: %s\n", name, address.c_str(), port, strerror(errno));
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

// Answers one ampctld line; false when the client asked to close.
bool answerLine(Works* works, const Port& port, Client& c, bool allowSet, std::string& reply)
{
    if (c.overlong) {
        if (!c.overlongLogged)
            logErr("%s: line longer than %zu bytes refused\n", port.name, HAMLIB_LINE_MAX);
        c.overlongLogged = true;
        reply += "RPRT -1\n";
        return true;
    }
    return answerHamlibLine(works, c.line, allowSet, reply) == 0;
}

// Answers one KPA1500 command; what is not answered is logged once per connection.
void answerCommand(Works* works, const Port& port, Client& c, bool allowSet, std::string& reply)
{
    const KpaOutcome outcome =
        c.overlong ? KpaOutcome::Unknown : answerKpaCommand(works, c.line, allowSet, reply);
    if (outcome == KpaOutcome::Unknown && c.unknown++ == 0)
        logErr("%s: unknown command \"%s\" not answered (logged once per connection)\n", port.name,
               printable(c.line).c_str());
    if (outcome == KpaOutcome::Refused && c.refused++ == 0)
        logErr("%s: \"%s\" refused: %s\n", port.name, printable(c.line).c_str(),
               allowSet ? "not possible now" : "set commands are not allowed");
}

// Reads what the client sent and answers each complete command. False when the connection
// is to be closed (end, error, quit, or a client that does not read its replies).
bool serveClient(Works* works, const Port& port, Client& c, bool allowSet)
{
    char buf[512];
    const ssize_t n = recv(c.sock.fd(), buf, sizeof buf, 0);
    if (n == 0)
        return false;
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.lastHeard = monoSeconds();
    const char end = port.dialect == Dialect::Kpa ? ';' : '\n';
    std::string reply;
    bool keep = true;
    for (ssize_t i = 0; i < n && keep; i++) {
        const char ch = buf[i];
        if (ch != end) {
            if (c.line.size() < HAMLIB_LINE_MAX)
                c.line += ch;
            else
                c.overlong = true;
            continue;
        }
        if (port.dialect == Dialect::Kpa)
            answerCommand(works, port, c, allowSet, reply);
        else
            keep = answerLine(works, port, c, allowSet, reply);
        c.line.clear();
        c.overlong = false;
    }
    if (!reply.empty() && !sendAll(c.sock.fd(), reply))
        return false;
    return keep;
}

void closeClient(const Port& port, Client& c)
{
    if (c.unknown > 1)
        logErr("%s: %d commands not answered on the connection\n", port.name, c.unknown);
    c.sock.reset();
}

// Logs the refusals not yet logged once the summary period has passed (or at the end).
void logRefusals(Port& port, double now, bool final)
{
    if (port.refusedPending == 0 || (!final && now - port.refusalLogged < HAMLIB_REFUSAL_SUMMARY_S))
        return;
    logErr("%s: %d more connections refused, every slot taken\n", port.name, port.refusedPending);
    port.refusedPending = 0;
    port.refusalLogged = now;
}

void acceptClient(Port& port, double now)
{
    Socket sock(accept4(port.listener.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (sock.fd() < 0)
        return;
    for (Client& c : port.clients) {
        if (c.sock.fd() < 0) {
            c = Client();
            c.sock = std::move(sock);
            c.lastHeard = now;
            return;
        }
    }
    // One line for the first refusal, then a count at most once a summary period.
    if (now - port.refusalLogged >= HAMLIB_REFUSAL_SUMMARY_S && port.refusedPending == 0) {
        logErr("%s: %d clients already connected, connection refused\n", port.name, HAMLIB_MAX_CLIENTS);
        port.refusalLogged = now;
    } else {
        port.refusedPending++;
    }
}

void dropIdleClients(Port& port, double now, int idleSeconds)
{
    for (Client& c : port.clients) {
        if (c.sock.fd() >= 0 && now - c.lastHeard >= idleSeconds) {
            logErr("%s: client silent for %d s, closed\n", port.name, idleSeconds);
            closeClient(port, c);
        }
    }
}

// Serves both ports' listeners and clients from one poll.
void servePorts(Works* works, std::span<Port> ports, const HamlibSettings& settings)
{
    constexpr size_t PER_PORT = HAMLIB_MAX_CLIENTS + 1;
    while (works->running) {
        std::array<pollfd, 2 * PER_PORT> fds{};
        for (size_t p = 0; p < ports.size(); p++) {
            fds[p * PER_PORT] = {ports[p].listener.fd(), POLLIN, 0};
            for (size_t i = 0; i < HAMLIB_MAX_CLIENTS; i++)
                fds[p * PER_PORT + 1 + i] = {ports[p].clients[i].sock.fd(), POLLIN, 0};
        }
        const int ready = poll(fds.data(), ports.size() * PER_PORT, POLL_MS);
        const double now = monoSeconds();
        for (size_t p = 0; p < ports.size(); p++) {
            Port& port = ports[p];
            for (size_t i = 0; ready > 0 && i < HAMLIB_MAX_CLIENTS; i++) {
                Client& c = port.clients[i];
                if (c.sock.fd() >= 0 && fds[p * PER_PORT + 1 + i].revents != 0 &&
                    !serveClient(works, port, c, settings.allowSet))
                    closeClient(port, c);
            }
            if (ready > 0 && (fds[p * PER_PORT].revents & POLLIN))
                acceptClient(port, now);
            dropIdleClients(port, now, settings.idleSeconds);
            logRefusals(port, now, false);
        }
    }
    for (Port& port : ports)
        logRefusals(port, monoSeconds(), true);
}

} // namespace

namespace {

// A whole decimal number within [low, high]; false for anything else.
bool parseBounded(const std::string& value, long low, long high, int& out)
{
    char* stop = nullptr;
    errno = 0;
    const long n = strtol(value.c_str(), &stop, 10);
    if (stop == value.c_str() || *stop != '\0' || errno == ERANGE || n < low || n > high)
        return false;
    out = static_cast<int>(n);
    return true;
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
        if (key == "Port" || key == "KpaPort") {
            if (!parseBounded(value, 1, 65535, key == "Port" ? s.port : s.kpaPort))
                logErr("Hamlib settings: bad %s \"%s\"\n", key.c_str(), value.c_str());
        } else if (key == "IdleTimeout") {
            if (!parseBounded(value, 1, 86400, s.idleSeconds))
                logErr("Hamlib settings: bad IdleTimeout \"%s\"\n", value.c_str());
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
    if (s.port != 0 && s.port == s.kpaPort) {
        logErr("Hamlib settings: KpaPort is Port's, KPA1500 port off\n");
        s.kpaPort = 0;
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
    std::array<Port, 2> ports{Port{Dialect::Ampctld, "Hamlib", {}, {}}, Port{Dialect::Kpa, "Hamlib KPA1500", {}, {}}};
    const char* sets = settings.allowSet ? "allowed" : "refused";
    if (settings.port != 0) {
        ports[0].listener = openListener(ports[0].name, settings.address, settings.port);
        if (ports[0].listener.fd() >= 0)
            logErr("Hamlib: listening on %s:%d, set commands %s\n", settings.address.c_str(), settings.port, sets);
    }
    if (settings.kpaPort != 0) {
        ports[1].listener = openListener(ports[1].name, settings.address, settings.kpaPort);
        if (ports[1].listener.fd() >= 0)
            logErr("Hamlib KPA1500: listening on %s:%d, set commands %s\n", settings.address.c_str(),
                   settings.kpaPort, sets);
    }
    if (ports[0].listener.fd() < 0 && ports[1].listener.fd() < 0)
        return nullptr;
    servePorts(works, ports, settings);
    logErr("Hamlib: server stopped\n");
    return nullptr;
}
