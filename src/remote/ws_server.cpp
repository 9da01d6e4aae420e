#include "remote/ws_server.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/ws_frames.h"
#include "remote/ws_handshake.h"
#include "remote/ws_inbound.h"
#include "remote/ws_socket.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <utility>
#include <vector>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t HANDSHAKE_BYTES_MAX = 16384;
constexpr int SEND_TIMEOUT_S = 2;
// Room in the kernel's queue for connections that arrive while the server queues those
// before them.
constexpr int LISTEN_BACKLOG = 16;

// A connection from its accept to its end, in one of the server's session slots. The
// worker that serves it closes the socket; a newer connection can end one still short of
// its password (shutdown) under the mutex that guards the slot, so never a closed or
// reused descriptor.
struct Session {
    int fd = -1;            // -1: the slot is free
    std::string address;
    bool loggedIn = false;
    bool evicted = false;
};

// The connections waiting for a worker and the workers' slots, all under `mutex`. Workers
// are made once, so connections come and go without a thread made or ended for each.
struct Server {
    Works* works = nullptr;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Session> queued;
    std::array<Session, WS_PENDING_MAX + 1> slots;  // the pending ones and the logged-in peer
    bool peerLoggedIn = false;
    bool stopping = false;
};

int openListener(Works* works)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        logSys(LOG_ERR, "Socket open error %d", errno);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(works->tcpPort.load()));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        logSys(LOG_ERR, "Binding error %d", errno);
        ::close(fd);
        return -1;
    }
    if (::listen(fd, LISTEN_BACKLOG) != 0) {
        logSys(LOG_ERR, "Listening error %d", errno);
        ::close(fd);
        return -1;
    }
    logSys(LOG_INFO, "Listening on port %d", static_cast<uint16_t>(works->tcpPort.load()));
    return fd;
}

// The request lines up to the empty line that completes them, then the answer. false when
// the peer goes, stays silent past its deadline, or sends a request that is refused. One
// line in the log tells how the request went, however many lines the peer sent.
bool handshake(WsByteReader& reader, int fd, const std::string& address)
{
    WsRequestState state;
    std::string line;
    size_t received = 0;
    int lines = 0;
    const char* refused = nullptr;
    for (;;) {
        if (!reader.readLine(line)) {
            refused = reader.lastResult() == 0 ? "peer left" : "read failed or timed out";
            break;
        }
        ++lines;
        received += line.size();
        if (received > HANDSHAKE_BYTES_MAX) {
            refused = "longer than 16384 bytes";
            break;
        }
        const int r = wsRequestLine(state, line);
        if (r < 0) {
            refused = "key too long";
            break;
        }
        if (r > 0)
            break;
    }
    if (refused) {
        logSys(LOG_ERR, "request from %s refused (%s): %d lines, %d bytes, %d of 8 expected lines (TCP read error %d)",
               address.c_str(), refused, lines, static_cast<int>(received), state.progress, reader.lastError());
        return false;
    }
    logSys(LOG_INFO, "request from %s: %d lines, %d bytes", address.c_str(), lines, static_cast<int>(received));
    const std::string answer = wsResponse(state);
    const long sent = wsWriteAll(fd, answer.data(), answer.size());
    logSys(LOG_INFO, "sent %ld bytes error %d", sent, sent < 0 ? errno : 0);
    return sent == static_cast<long>(answer.size());
}

// Takes the one peer slot for a session whose password matched; false when another peer
// holds it or the session has been ended meanwhile.
bool logIn(Server& server, Session& session)
{
    std::lock_guard<std::mutex> lock(server.mutex);
    if (server.peerLoggedIn || session.evicted)
        return false;
    server.peerLoggedIn = true;
    session.loggedIn = true;
    return true;
}

void logOut(Server& server)
{
    std::lock_guard<std::mutex> lock(server.mutex);
    server.peerLoggedIn = false;
}

void peerAuthenticated(Works* works, int fd)
{
    std::lock_guard<std::mutex> lock(*works->wsMut);
    wsPublishPeer(works, fd);
    std::printf("connected\n");
    std::fflush(stdout);
}

// One connection from the handshake to its end.
void serveConnection(Server& server, Session& session)
{
    Works* works = server.works;
    const int fd = session.fd;
    wsSetSendTimeout(fd, SEND_TIMEOUT_S);
    int64_t deadline = monoMillis() + WS_LOGIN_TIME_MS;
    WsByteReader reader(wsSocketSource(works, fd, &deadline));
    if (!handshake(reader, fd, session.address))
        return;
    WsConnection connection;
    connection.works = works;
    connection.role = WsRole::Server;
    WsFrame frame;
    bool published = false;
    while (works->running) {
        int step = 0;
        const WsReadResult r = wsReadFrame(reader, frame, step);
        if (r == WsReadResult::Ended) {
            logSys(LOG_INFO, "TCP read Error %da %d", step, static_cast<int>(reader.lastResult()));
            logSys(LOG_INFO, "TCP read Error 6a %d", reader.lastError());
            break;
        }
        if (r != WsReadResult::Ok)
            break;  // logged by the reader
        const bool before = connection.authenticated;
        if (wsHandleFrame(connection, frame) != 0)
            break;
        if (!before && connection.authenticated) {
            if (!logIn(server, session)) {
                logSys(LOG_ERR, "peer %s: another peer is logged in, connection ended", session.address.c_str());
                break;
            }
            deadline = 0;
            published = true;
            peerAuthenticated(works, fd);
            logSys(LOG_INFO, "Receiving data");
        }
    }
    logSys(LOG_INFO, "TCP exiting");
    if (published) {
        wsRetirePeer(works, -1);
        logOut(server);
    }
}

// Makes room for a new connection: when WS_PENDING_MAX connections are short of their
// password (waiting for a worker or being served), the oldest queued one is closed, or else
// the oldest served one is ended (its worker sees its socket shut). Under server.mutex.
void makeRoom(Server& server)
{
    int pending = static_cast<int>(server.queued.size());
    for (const Session& s : server.slots)
        pending += s.fd >= 0 && !s.loggedIn && !s.evicted;
    if (pending < WS_PENDING_MAX)
        return;
    if (!server.queued.empty()) {
        const Session oldest = server.queued.front();
        server.queued.pop_front();
        logSys(LOG_ERR, "%d connections waiting to log in: the oldest, from %s, ended", pending, oldest.address.c_str());
        ::close(oldest.fd);
        return;
    }
    for (Session& s : server.slots) {
        if (s.fd < 0 || s.loggedIn || s.evicted)
            continue;
        logSys(LOG_ERR, "%d connections waiting to log in: the oldest, from %s, ended", pending, s.address.c_str());
        s.evicted = true;
        ::shutdown(s.fd, SHUT_RDWR);
        return;
    }
}

// A worker: takes the next queued connection into its slot and serves it, until the
// server stops.
void work(Server& server, Session& slot)
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(server.mutex);
            server.arrived.wait(lock, [&] { return server.stopping || !server.queued.empty(); });
            if (server.stopping)
                return;
            slot = server.queued.front();
            server.queued.pop_front();
        }
        serveConnection(server, slot);
        int fd = -1;
        {
            std::lock_guard<std::mutex> lock(server.mutex);
            std::swap(fd, slot.fd);
            slot.loggedIn = false;
            slot.evicted = false;
        }
        if (::close(fd) != 0)
            logSys(LOG_ERR, "TCP close Error");
        logSys(LOG_INFO, "TCP closed");
    }
}

} // namespace

bool wsDefaultPasswordInUse(Works* works)
{
    return remotePasswordText(works) == REMOTE_DEFAULT_PASSWORD;
}

void* Wsocket(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    const int port = static_cast<uint16_t>(works->tcpPort.load());
    logSys(LOG_INFO, "Wsocket on port %d mode %c", port, setupSwitch(works->setup, &Orvosetup::WebSocket));
    if (wsDefaultPasswordInUse(works))
        logSys(LOG_ERR, "remote access uses the default password: any host that reaches port %d can operate the unit",
               port);
    std::printf("wsocket\n");
    std::fflush(stdout);
    wsPause(works, 2000);
    const int listener = openListener(works);
    if (listener < 0)
        return nullptr;
    Server server;
    server.works = works;
    std::vector<std::thread> workers;
    for (Session& slot : server.slots)
        workers.emplace_back([&server, &slot] { work(server, slot); });
    while (works->running) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (fd < 0) {
            // A peer that went before its accept, or no descriptor left for the moment: the
            // server goes on listening.
            logSys(LOG_ERR, "Accept-ing error %d", errno);
            wsPause(works, 100);
            continue;
        }
        char address[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        logSys(LOG_INFO, "Connected by %s", address);
        {
            std::lock_guard<std::mutex> lock(server.mutex);
            makeRoom(server);
            Session session;
            session.fd = fd;
            session.address = address;
            server.queued.push_back(session);
        }
        server.arrived.notify_one();
    }
    ::close(listener);
    // Every connection being served ends within a poll step once running has dropped.
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        server.stopping = true;
        for (const Session& s : server.queued)
            ::close(s.fd);
        server.queued.clear();
    }
    server.arrived.notify_all();
    for (std::thread& t : workers)
        t.join();
    return nullptr;
}
