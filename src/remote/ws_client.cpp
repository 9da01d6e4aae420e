#include "remote/ws_client.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/ws_frames.h"
#include "remote/ws_handshake.h"
#include "remote/ws_inbound.h"
#include "remote/ws_socket.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int CONNECT_RETRY_MS = 2000;
constexpr int CONNECT_WAIT_MS = 5000;
constexpr int RESPONSE_TIME_MS = 10000;
constexpr int SEND_TIMEOUT_S = 2;

// The 24-character key from 16 random bytes; "" when the random source fails.
std::string makeKey()
{
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        logSys(LOG_ERR, "/dev/urandom error %d", errno);
        return "";
    }
    unsigned char bytes[16];
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    if (n != static_cast<ssize_t>(sizeof bytes)) {
        logSys(LOG_ERR, "/dev/urandom read %d instead of 16, error=%d", static_cast<int>(n), errno);
        return "";
    }
    return wsBase64(bytes, sizeof bytes);
}

// Connects to the server within CONNECT_WAIT_MS (the program can stop meanwhile); the
// socket, or -1.
int connectToServer(Works* works)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(static_cast<uint16_t>(works->tcpPort.load()));
    if (getaddrinfo(works->serverAddr, port.c_str(), &hints, &found) != 0 || !found) {
        logSys(LOG_ERR, "ERROR, no such host as %s\n", works->serverAddr);
        return -1;
    }
    logSys(LOG_INFO, "server ok");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        logSys(LOG_ERR, "Socket error %d", errno);
        freeaddrinfo(found);
        return -1;
    }
    logSys(LOG_INFO, "Socket for TCP created");
    int rc = ::connect(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (rc != 0 && errno == EINPROGRESS) {
        const int64_t end = monoMillis() + CONNECT_WAIT_MS;
        rc = -1;
        while (works->running && monoMillis() < end) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 200) <= 0)
                continue;
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            rc = err == 0 ? 0 : -1;
            break;
        }
    }
    if (rc != 0) {
        logSys(LOG_ERR, "Connect Error\n");
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The request, then the response lines until they are complete. false when the server
// goes, stays silent, or answers with a wrong key.
bool handshake(Works* works, WsByteReader& reader, int fd, const std::string& key)
{
    for (int i = 0; i < WS_REQUEST_LINES; ++i) {
        const std::string line = wsRequestLineText(i, works->serverAddr, static_cast<uint16_t>(works->tcpPort.load()), key);
        const long n = wsWriteAll(fd, line.data(), line.size());
        if (n < 0) {
            logSys(LOG_ERR, "TCP write Error");
            break;
        }
        logSys(LOG_INFO, "TCP write %ld bytes\n", n);
    }
    WsResponseState state;
    std::string line;
    int lines = 0;
    for (;;) {
        if (!reader.readLine(line)) {
            logSys(LOG_ERR, "TCP read error 1 %d", reader.lastError());
            return false;
        }
        ++lines;
        const int r = wsResponseLine(state, line, key);
        if (r < 0)
            return false;
        if (r > 0) {
            logSys(LOG_INFO, "response of %d lines", lines);
            return true;
        }
    }
}

bool sendPassword(Works* works, int fd)
{
    std::array<unsigned char, 6 + sizeof works->remotePassword> frame{};
    const std::string password = remotePasswordText(works);
    const size_t length = std::min(password.size(), sizeof works->remotePassword - 1);
    frame[0] = 0x81;
    frame[1] = static_cast<unsigned char>(length);  // mask bit clear, key of zeros
    std::memcpy(frame.data() + 6, password.data(), length);
    return wsWriteAll(fd, frame.data(), length + 6) == static_cast<long>(length + 6);
}

// Frames from the server until the connection is lost.
void mirror(Works* works, WsByteReader& reader)
{
    WsConnection connection;
    connection.works = works;
    connection.role = WsRole::Client;
    connection.authenticated = true;
    WsFrame frame;
    while (works->running && works->wsConnected) {
        int step = 0;
        const WsReadResult r = wsReadFrame(reader, frame, step);
        if (r == WsReadResult::Ended) {
            logSys(LOG_ERR, "TCP read Error %dA %d", step == 1 ? 2 : 6, static_cast<int>(reader.lastResult()));
            return;
        }
        if (r != WsReadResult::Ok || wsHandleFrame(connection, frame) != 0)
            return;
    }
}

} // namespace

void* Wclient(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    logSys(LOG_INFO, "Wclient to server %s on port %d mode %c", works->serverAddr,
           static_cast<uint16_t>(works->tcpPort.load()), setupSwitch(works->setup, &Orvosetup::WebSocket));
    const std::string key = makeKey();
    if (key.empty())
        return nullptr;
    while (works->running) {
        works->wsConnected = 0;
        const int fd = connectToServer(works);
        if (fd < 0) {
            wsPause(works, CONNECT_RETRY_MS);
            continue;
        }
        logSys(LOG_INFO, "TCP connected\n");
        wsSetSendTimeout(fd, SEND_TIMEOUT_S);
        int64_t deadline = monoMillis() + RESPONSE_TIME_MS;
        WsByteReader reader(wsSocketSource(works, fd, &deadline));
        if (!handshake(works, reader, fd, key)) {
            // A server that answers wrongly or not at all is tried again later; the
            // program goes on.
            ::close(fd);
            logSys(LOG_ERR, "handshake failed: trying again");
            wsPause(works, 1000);
            continue;
        }
        if (!sendPassword(works, fd)) {
            logSys(LOG_ERR, "TCP write Error");
            ::close(fd);
            wsPause(works, CONNECT_RETRY_MS);
            continue;
        }
        deadline = 0;
        wsPublishPeer(works, fd);
        sleepMs(20);
        logSys(LOG_INFO, "Websocket Connected");
        mirror(works, reader);
        wsRetirePeer(works, fd);
        logSys(LOG_ERR, "reconnecting");
        wsPause(works, 100);
    }
    return nullptr;
}
