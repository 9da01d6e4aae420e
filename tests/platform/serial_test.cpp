// The serial read helper tells bytes, a quiet line and a line whose device is gone apart.
#include "platform/serial.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A pseudo-terminal set raw: the master plays the device, the slave is the port.
struct Line {
    int master = -1;
    int port = -1;
    Line()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        port = open(ptsname(master), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(port, &t);
        cfmakeraw(&t);
        tcsetattr(port, TCSANOW, &t);
    }
    ~Line()
    {
        if (port >= 0)
            close(port);
        if (master >= 0)
            close(master);
    }
};

TEST(SerialRead, DataTimeOutAndHangUpAreToldApartAndAHangUpStays)
{
    Line line;
    ASSERT_GE(line.port, 0);
    std::array<char, 8> buffer{};

    SerialRead got = serialRead(line.port, buffer.data(), buffer.size(), 20);
    EXPECT_EQ(SerialStatus::Timeout, got.status) << "a quiet line";

    ASSERT_EQ(5, write(line.master, "abcde", 5));
    got = serialRead(line.port, buffer.data(), 3, 1000);
    ASSERT_EQ(SerialStatus::Data, got.status);
    EXPECT_EQ(3u, got.count) << "no more than asked";
    EXPECT_EQ("abc", std::string(buffer.data(), 3));
    got = serialRead(line.port, buffer.data(), buffer.size(), 1000);
    ASSERT_EQ(SerialStatus::Data, got.status);
    EXPECT_EQ("de", std::string(buffer.data(), got.count));

    // The device side closed, as when a USB adapter is pulled: readable with nothing to
    // read. Every later wait says so at once, never a time-out to poll again.
    close(line.master);
    line.master = -1;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(SerialStatus::HungUp, serialRead(line.port, buffer.data(), buffer.size(), 1000).status);
}

TEST(SerialRead, AClosedDescriptorIsGoneToo)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    char byte = 0;
    ASSERT_EQ(1, write(fds[1], "x", 1));
    close(fds[1]);
    EXPECT_EQ(SerialStatus::Data, serialRead(fds[0], &byte, 1, 1000).status) << "what was sent is still read";
    EXPECT_EQ(SerialStatus::HungUp, serialRead(fds[0], &byte, 1, 1000).status);
    close(fds[0]);
    EXPECT_EQ(SerialStatus::HungUp, serialRead(fds[0], &byte, 1, 1000).status) << "POLLNVAL";
}

} // namespace
