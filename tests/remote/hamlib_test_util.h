#pragma once
// Helpers of the Hamlib server tests: a free loopback port, a client that speaks to either
// port (lines, or the KPA1500 set's ';'-ended commands), a run of Hamlib's own command-line
// amplifier client (Debian's /usr/bin/ampctl, never our build's ampctl), and the simulated
// unit the end-to-end tests start from.
#include "board_physics.h"
#include "control.h"
#include "platform/clock.h"
#include "sim_unit.h"
#include "support/board_setup.h"
#include "support/files.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
    std::string readLine(double timeout = 5) { return readUntil('\n', timeout, false); }
    // Bytes up to `end`, kept in the result when `keepEnd`; "" after `timeout` seconds
    // without one.
    std::string readUntil(char end, double timeout = 5, bool keepEnd = true)
    {
        const double deadline = monoSeconds() + timeout;
        for (;;) {
            const size_t at = buffer_.find(end);
            if (at != std::string::npos) {
                std::string item = buffer_.substr(0, keepEnd ? at + 1 : at);
                buffer_.erase(0, at + 1);
                return item;
            }
            if (!receive(deadline - monoSeconds()))
                return "";
        }
    }
    // Every byte that arrives until none has come for `quiet` seconds once the reply's last
    // line has ended (at most `timeout` seconds in all).
    std::string readReply(double quiet = 0.5, double timeout = 10)
    {
        const double deadline = monoSeconds() + timeout;
        for (;;) {
            const bool ended = !buffer_.empty() && buffer_.back() == '\n';
            const double left = deadline - monoSeconds();
            if (left <= 0 || !receive(ended ? std::min(quiet, left) : left))
                break;
        }
        std::string all;
        all.swap(buffer_);
        return all;
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
    // Waits up to `timeout` seconds for bytes and appends them; false when none came.
    bool receive(double timeout)
    {
        pollfd p{fd_, POLLIN, 0};
        if (timeout <= 0 || poll(&p, 1, static_cast<int>(timeout * 1000) + 1) <= 0)
            return false;
        char buf[256];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        buffer_.append(buf, static_cast<size_t>(n));
        return true;
    }

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

// What a run of a program printed (standard output and error together) and its exit status.
struct ClientRun {
    std::string out;
    int status = -1;
};

// Runs Hamlib's command-line client with the model against the port.
inline ClientRun runHamlibClient(int model, int port, const std::string& commands)
{
    const std::string cmd = "timeout 20 " + std::string(HAMLIB_CLIENT) + " -m " + std::to_string(model) +
                            " -r 127.0.0.1:" + std::to_string(port) + " " + commands + " 2>&1";
    ClientRun run;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        run.out.append(buf, n);
    const int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Host texts sent after entry `from` include every one of `wanted`.
inline bool sentAfter(sim::SimUnit& unit, size_t from, const std::vector<std::string>& wanted, double timeout = 15)
{
    return unit.waitForFrames(
        [&](const auto& log) {
            const std::vector<std::string> sent = hostTexts(log, from);
            return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& w) {
                return std::find(sent.begin(), sent.end(), w) != sent.end();
            });
        },
        timeout);
}

// No host text sent after entry `from` starts with any of `prefixes` (the board's
// commands for stand-by, antenna, fault reset and frequency by default), waiting for 40
// more frames of the link first.
inline void expectNoSetOnWire(sim::SimUnit& unit, size_t from,
                              const std::vector<std::string>& prefixes = {"AB", "SA", "CP", "FA"})
{
    unit.waitForFrames(from + 40, 3);
    for (const std::string& t : hostTexts(unit.wireLog(), from))
        for (const std::string& p : prefixes)
            EXPECT_NE(0u, t.rfind(p, 0)) << t;
}

// A unit with a band table from 0 Hz (forward 1000 W at 4000, reflected 250 W at 4000,
// input 10 W at 1000), an antenna table (40 m: antenna 2, pad step 1; every other band:
// antenna 1, no pads), 10 W of drive into a load of SWR 2 on 14.2 MHz, and the Hamlib
// settings file of the given lines.
struct HamlibUnit {
    HamlibUnit(const char* name, const std::string& settings) : unit(freshTempDir(name))
    {
        writeFile(unit.path("opt/set/config.txt"),
                  "; band table\n"
                  "0 30000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n"
                  "30000000 54000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n");
        writeFile(unit.path("opt/set/antenna_b1.txt"),
                  "!Gen\n160m 1800000 2000000 1 1 0 0 0\n80m 3500000 4000000 1 1 0 0 0\n"
                  "60m 5330500 5450000 1 1 0 0 0\n40m 7000000 7300000 1 2 0 1 0\n"
                  "30m 10100000 10150000 1 1 0 0 0\n20m 14000000 14350000 1 1 0 0 0\n"
                  "17m 18068000 18168000 1 1 0 0 0\n15m 21000000 21450000 1 1 0 0 0\n"
                  "12m 24890000 24990000 1 1 0 0 0\n10m 28000000 29700000 1 1 0 0 0\n"
                  "6m 50000000 54000000 1 1 0 0 0\n");
        writeFile(unit.path("opt/set/hamlib.txt"), settings);
        attachCalibratedBoard(unit, physics);
        control("frequency 14200000");
    }
    HamlibUnit(const char* name, int port, bool allowSet)
        : HamlibUnit(name, "Port: " + std::to_string(port) + "\nAllowSet: " + (allowSet ? "1" : "0") + "\n")
    {
    }
    ~HamlibUnit()
    {
        unit.board().state().setPhysics({});
        unit.stop();
        std::filesystem::remove_all(unit.root());
    }
    void control(const std::string& line) { EXPECT_EQ("", sim::applyControlLine(unit.board(), line, &physics)); }

    sim::SimUnit unit;
    sim::BoardPhysics physics;
};

} // namespace hamlibtest
