// Values at the ends of the 32-bit range and byte layouts shared with the board and the
// simulated unit. `long` and `size_t` are 64 bits on the build machine and 32 bits on the
// unit's armhf board, so these run in both builds (the armhf one under qemu-user) and must
// give the same results there.
#include "amplifier/amp_test_util.h"
#include "amplifier/filters.h"
#include "platform/gpio.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// The text of command `number` as it goes to the board (after the two CRC digits).
std::string commandText(Works* works, int number)
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return "";
    works->linFD = fds[1];
    linearProcessStatus = number;
    testing::internal::CaptureStderr();
    sendLinearCommand(works, number);
    testing::internal::GetCapturedStderr();
    char buf[64];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    close(fds[1]);
    works->linFD = -1;
    return n > 2 ? std::string(buf + 2, static_cast<size_t>(n) - 2) : "";
}

TEST(WordSize, FrequencyTextsCoverTheWhole32BitRange)
{
    auto works = freshWorks();
    works->frequency = 54000000;
    EXPECT_EQ("FA00054000000;", commandText(works.get(), 9));
    works->frequency = UINT32_MAX;
    EXPECT_EQ("FA04294967295;", commandText(works.get(), 9));
    works->frequency = 0x80000000u;
    EXPECT_EQ("FA02147483648;", commandText(works.get(), 9));

    // The counter's 11 digits: the largest 32-bit count is taken, one above it is not.
    decode(works.get(), "FM004294967295;");
    EXPECT_EQ(UINT32_MAX, works->freqMeasured.load());
    decode(works.get(), "FM002147483648;");
    EXPECT_EQ(2147483648u, works->freqMeasured.load());
    decode(works.get(), "FM004294967296;");
    EXPECT_EQ(2147483648u, works->freqMeasured.load()) << "a count past 32 bits is not stored";
    decode(works.get(), "FM099999999999;");
    EXPECT_EQ(2147483648u, works->freqMeasured.load());
}

// A works record with filter.txt of the current root loaded (its log lines swallowed).
std::unique_ptr<Works> loadFilters()
{
    auto works = freshWorks();
    testing::internal::CaptureStderr();
    LoadTabFiltri(works.get());
    testing::internal::GetCapturedStderr();
    return works;
}

TEST(WordSize, FilterEdgesAbove2To31SurviveASaveAndSelectTheFilter)
{
    TestRoot root("filter-width");
    root.write("opt/set/filter.txt", ";comment\n0 2147483647 1\n2147483648 4294967295 1\n");
    auto works = loadFilters();
    EXPECT_EQ(2147483648u, works->filterTable[1].freqStart);
    EXPECT_EQ(4294967295u, works->filterTable[1].freqStop);

    // Written back as read, so a second load sees the same rows.
    const std::string text = filterFileText(works.get());
    EXPECT_NE(std::string::npos, text.find("\n0\t\t2147483647\t\t1 \n2147483648\t\t4294967295\t\t1 \n")) << text;
    root.write("opt/set/filter.txt", text);
    auto again = loadFilters();
    EXPECT_EQ(2147483648u, again->filterTable[1].freqStart);
    EXPECT_EQ(4294967295u, again->filterTable[1].freqStop);

    // The second row's filter (mask 0x02) for a frequency in its upper half.
    again->frequency = 3000000000u;
    again->sfValue = 0;
    testing::internal::CaptureStderr();
    SetFilterFromfreq(again.get());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(0x02, again->sfValue.load());
}

// The register block in a regular file (the simulated unit's /dev/mem, written by a 64-bit
// simulator) holds little-endian 32-bit words at the registers' byte offsets.
TEST(WordSize, RegisterFileWordsAtTheirByteOffsets)
{
    TestRoot root("gpio-layout");
    std::array<unsigned char, GPIO_BLOCK_BYTES> block{};
    const unsigned char level[4] = {0x05, 0x00, 0x00, 0x80};  // pins 0, 2 and 31 high
    std::copy(std::begin(level), std::end(level), block.begin() + GPIO_LEV0);
    const std::string mem = root.path("dev/mem");
    {
        const int fd = open(mem.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(block.size()), write(fd, block.data(), block.size()));
        close(fd);
    }
    std::unique_ptr<GpioPort> port;
    ASSERT_EQ(0, openGpioBlock(port));
    EXPECT_EQ(0x80000005u, port->readReg(GPIO_LEV0));
    EXPECT_EQ(1, gpioLevel(*port, 0));
    EXPECT_EQ(0, gpioLevel(*port, 1));
    EXPECT_EQ(1, gpioLevel(*port, 2));
    EXPECT_EQ(1, gpioLevel(*port, 31));

    gpioDriveHigh(*port, 0x12345678u);
    gpioSetOutput(*port, 17);  // function select register 1, bits 21..23
    port.reset();
    const int fd = open(mem.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(block.size()), read(fd, block.data(), block.size()));
    close(fd);
    EXPECT_EQ((std::array<unsigned char, 4>{0x78, 0x56, 0x34, 0x12}),
              (std::array<unsigned char, 4>{block[GPIO_SET0], block[GPIO_SET0 + 1], block[GPIO_SET0 + 2],
                                            block[GPIO_SET0 + 3]}));
    EXPECT_EQ((std::array<unsigned char, 4>{0x00, 0x00, 0x20, 0x00}),
              (std::array<unsigned char, 4>{block[GPIO_FSEL0 + 4], block[GPIO_FSEL0 + 5], block[GPIO_FSEL0 + 6],
                                            block[GPIO_FSEL0 + 7]}));
}

} // namespace
