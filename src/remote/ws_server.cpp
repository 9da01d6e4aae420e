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
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t HANDSHAKE_BYTES_MAX = 16384;
constexpr int SEND_TIMEOUT_S = 2;

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
    if (::listen(fd, 1) != 0) {
        logSys(LOG_ERR, "Listening error %d", errno);
        ::close(fd);
        return -1;
    }
    logSys(LOG_INFO, "Listening on port %d", static_cast<uint16_t>(works->tcpPort.load()));
    return fd;
}

// The request lines up to the empty line that completes them, then the answer. false when
// the peer goes, stays silent past its deadline, or sends a request that is refused.
bool handshake(WsByteReader& reader, int fd)
{
    WsRequestState state;
    std::string line;
    size_t received = 0;
    for (;;) {
        if (!reader.readLine(line)) {
            logSys(LOG_ERR, "TCP read error %d", reader.lastResult() == 0 ? 0 : errno);
            return false;
        }
        received += line.size();
        if (received > HANDSHAKE_BYTES_MAX) {
            logSys(LOG_ERR, "request longer than %d bytes refused", static_cast<int>(HANDSHAKE_BYTES_MAX));
            return false;
        }
        const int r = wsRequestLine(state, line);
        if (r < 0)
            return false;
        if (r > 0)
            break;
    }
    const std::string answer = wsResponse(state);
    const long sent = wsWriteAll(fd, answer.data(), answer.size());
    logSys(LOG_INFO, "sent %ld bytes error %d %s", sent, sent < 0 ? errno : 0, answer.c_str());
    return sent == static_cast<long>(answer.size());
}

void peerAuthenticated(Works* works, int fd)
{
    std::lock_guard<std::mutex> lock(*works->wsMut);
    wsPublishPeer(works, fd);
    std::printf("connected\n");
    std::fflush(stdout);
}

// One peer from the handshake to its end.
void serveConnection(Works* works, int fd)
{
    wsSetSendTimeout(fd, SEND_TIMEOUT_S);
    int64_t deadline = monoMillis() + WS_LOGIN_TIME_MS;
    WsByteReader reader(wsSocketSource(works, fd, &deadline));
    if (!handshake(reader, fd))
        return;
    WsConnection connection;
    connection.works = works;
    connection.role = WsRole::Server;
    WsFrame frame;
    while (works->running) {
        int step = 0;
        const WsReadResult r = wsReadFrame(reader, frame, step);
        if (r == WsReadResult::Ended) {
            logSys(LOG_INFO, "TCP read Error %da %d", step, static_cast<int>(reader.lastResult()));
            logSys(LOG_INFO, "TCP read Error 6a %d", errno);
            return;
        }
        if (r != WsReadResult::Ok)
            return;  // logged by the reader
        const bool before = connection.authenticated;
        if (wsHandleFrame(connection, frame) != 0)
            return;
        if (!before && connection.authenticated) {
            deadline = 0;
            peerAuthenticated(works, fd);
            logSys(LOG_INFO, "Receiving data");
        }
    }
}

} // namespace

void* Wsocket(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    logSys(LOG_INFO, "Wsocket on port %d mode %c", static_cast<uint16_t>(works->tcpPort.load()),
           setupSwitch(works->setup, &Orvosetup::WebSocket));
    std::printf("wsocket\n");
    std::fflush(stdout);
    wsPause(works, 2000);
    const int listener = openListener(works);
    if (listener < 0)
        return nullptr;
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
        serveConnection(works, fd);
        logSys(LOG_INFO, "TCP exiting");
        wsRetirePeer(works, fd);
        logSys(LOG_INFO, "TCP closed");
    }
    ::close(listener);
    return nullptr;
}
