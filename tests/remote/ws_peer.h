#pragma once
// A remote peer for the tests, written from the remote protocol's wire form and not from
// the controller's code: the request lines the server wants, the accept value (OpenSSL's
// SHA-1, our own Base64), the password frame, the inbound frame forms (a text frame always
// with a 4-byte key after its length byte; a binary short form; a 16-bit long form) and
// the reading of the unit's frames (0x82, a length byte or 0x7E with a 16-bit length).
#include "platform/clock.h"
#include "remote/hamlib_test_util.h"

#include <cerrno>
#include <cstdint>
#include <openssl/sha.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

namespace wstest {

inline std::string base64(const unsigned char* p, size_t n)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < n; i += 3) {
        uint32_t v = static_cast<uint32_t>(p[i]) << 16;
        if (i + 1 < n)
            v |= static_cast<uint32_t>(p[i + 1]) << 8;
        if (i + 2 < n)
            v |= p[i + 2];
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < n ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < n ? alphabet[v & 63] : '=';
    }
    return out;
}

inline std::string acceptFor(const std::string& key)
{
    const std::string joined = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char d[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), d);
    return base64(d, sizeof d);
}

// The seven header lines the server counts, and the empty line.
inline std::string request(const std::string& key)
{
    return "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Protocol: chat\r\n"
           "Sec-WebSocket-Key: " +
           key + "\r\nConnection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n\r\n";
}

// A text frame: 0x81, n, a 4-byte key, the payload masked with it.
inline std::string textFrame(const std::string& text, const std::string& maskKey = std::string(4, '\0'))
{
    std::string f;
    f += '\x81';
    f += static_cast<char>(text.size());
    f += maskKey;
    for (size_t i = 0; i < text.size(); ++i)
        f += static_cast<char>(text[i] ^ maskKey[i % 4]);
    return f;
}

inline std::string shortFrame(const std::string& tag, const std::string& data)
{
    return std::string("\x82") + static_cast<char>(tag.size() + data.size()) + tag + data;
}

inline std::string be32(uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

inline std::string longFrame(const std::string& tag, const std::string& fields)
{
    const size_t n = tag.size() + fields.size();
    return std::string("\x82\x7e") + static_cast<char>(n >> 8) + static_cast<char>(n & 0xff) + tag + fields;
}

// One "FB" chunk: total, offset, the chunk's bytes.
inline std::string pictureChunk(uint32_t total, uint32_t offset, const std::string& bytes)
{
    return longFrame("FB", be32(total) + be32(offset) + bytes);
}

// A JPEG of width x height pixels in one colour.
inline std::string jpegOf(int width, int height, unsigned char r, unsigned char g, unsigned char b)
{
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 90, 0);
    std::string jpeg(reinterpret_cast<char*>(out), size);
    tjFree(out);
    tjDestroy(h);
    return jpeg;
}

// A frame from the unit.
struct Frame {
    std::string tag;
    std::string data;  // after the tag
    bool longForm = false;
    std::string raw;   // the whole frame as it came
};

class Peer {
public:
    // Connects to the loopback port, trying for up to `timeout` seconds.
    explicit Peer(int port, double timeout = 15)
    {
        const double end = monoSeconds() + timeout;
        while (monoSeconds() < end) {
            fd_ = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a = hamlibtest::loopback(port);
            if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                return;
            close(fd_);
            fd_ = -1;
            usleep(100000);
        }
    }
    ~Peer()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()); }

    // The answer to a request with `key`, up to its empty line; "" when none came.
    std::string handshake(const std::string& key, double timeout = 10)
    {
        send(request(key));
        std::string answer;
        while (answer.find("\r\n\r\n") == std::string::npos) {
            const int c = readByte(timeout);
            if (c < 0)
                return answer;
            answer += static_cast<char>(c);
        }
        return answer;
    }
    // Handshake and password; true when the answer carried the right accept value.
    bool login(const std::string& password, const std::string& key = "dGhlIHNhbXBsZSBub25jZQ==")
    {
        const std::string answer = handshake(key);
        if (answer.find("Sec-WebSocket-Accept: " + acceptFor(key) + "\r\n") == std::string::npos)
            return false;
        return send(textFrame(password));
    }

    // The next frame from the unit, or nothing after `timeout` seconds or at its end.
    std::optional<Frame> readFrame(double timeout = 5)
    {
        std::string h = readBytes(2, timeout);
        if (h.size() < 2 || static_cast<unsigned char>(h[0]) != 0x82)
            return std::nullopt;
        Frame f;
        size_t length = static_cast<unsigned char>(h[1]);
        if (length == 126) {
            const std::string l = readBytes(2, timeout);
            if (l.size() < 2)
                return std::nullopt;
            length = static_cast<size_t>(static_cast<unsigned char>(l[0]) << 8 | static_cast<unsigned char>(l[1]));
            f.longForm = true;
        }
        const std::string payload = readBytes(length, timeout);
        if (payload.size() < length || length < 2)
            return std::nullopt;
        f.tag = payload.substr(0, 2);
        f.data = payload.substr(2);
        f.raw = h + (f.longForm ? std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xff)} : "") + payload;
        return f;
    }
    // The next frame with this tag, skipping others.
    std::optional<Frame> readTagged(const std::string& tag, double timeout = 5)
    {
        const double end = monoSeconds() + timeout;
        while (monoSeconds() < end) {
            auto f = readFrame(end - monoSeconds());
            if (!f)
                return std::nullopt;
            if (f->tag == tag)
                return f;
        }
        return std::nullopt;
    }
    // Whether the unit closes the connection within `timeout` seconds (what it sends
    // meanwhile is read and dropped).
    bool closedByUnit(double timeout = 5)
    {
        const double end = monoSeconds() + timeout;
        for (;;) {
            const double left = end - monoSeconds();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0)
                return false;
            char buf[4096];
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return true;
        }
    }

private:
    int readByte(double timeout)
    {
        const std::string b = readBytes(1, timeout);
        return b.empty() ? -1 : static_cast<unsigned char>(b[0]);
    }
    std::string readBytes(size_t n, double timeout)
    {
        std::string out;
        const double end = monoSeconds() + timeout;
        while (out.size() < n) {
            const double left = end - monoSeconds();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0)
                return out;
            char buf[2048];
            const ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0)
                return out;
            out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    int fd_ = -1;
};

} // namespace wstest
