// The completion side of the receiver stream in process: scaling of the 32-bit samples,
// the spectrum countdown, error counting and the common exit.
#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "remote/ws_frames.h"
#include "transceiver/iq_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <libusb.h>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct ReaderFixture {
    ReaderFixture()
    {
        works->setup = setup.get();
        works->serPar = &serPar;
        works->serMut = &serMut;
        initSetup(works.get());
        InitErrorTable(works.get());
        enableErrorList(works.get());
        setSetupSwitch(setup.get(), &Orvosetup::EnableFFT, '1');
        reader.works = works.get();
        block.reader = &reader;
    }
    // A completed block whose every I value is v (Q is -v).
    bool complete(int32_t v, int length = IQ_BLOCK_BYTES)
    {
        for (size_t i = 0; i < block.raw.size(); i += 8) {
            const int32_t q = v == std::numeric_limits<int32_t>::min() ? v : -v;
            std::memcpy(&block.raw[i], &v, 4);
            std::memcpy(&block.raw[i + 4], &q, 4);
        }
        return iqBlockDone(reader, block, LIBUSB_TRANSFER_COMPLETED, length);
    }

    std::unique_ptr<Orvosetup> setup = std::make_unique<Orvosetup>();
    std::unique_ptr<Works> works = std::make_unique<Works>();
    SerParam serPar;
    std::mutex serMut;
    IqReader reader;
    IqTransfer block;
};

} // namespace

TEST(IqStream, GainAndScaling)
{
    // 21.4 dB of global offset is unity gain; the preamplifier's offset counts only while
    // its level is 1 or more (negative levels mean off).
    EXPECT_FLOAT_EQ(1.0f, iqGain(21.4f, 6.0f, 0));
    EXPECT_NEAR(std::pow(10.0, 6.0 / 20), iqGain(21.4f, 6.0f, 1), 1e-5);
    EXPECT_FLOAT_EQ(1.0f, iqGain(21.4f, 6.0f, -2));
    EXPECT_NEAR(std::pow(10.0, 26.4 / 20), iqGain(-5.0f, 3.0f, 0), 1e-3);

    // Little-endian signed values; full scale 2^31 gives the gain.
    const uint8_t raw[] = {0x00, 0x00, 0x00, 0x80,  // INT32_MIN
                           0x00, 0x00, 0x00, 0x40,  // 2^30
                           0xFF, 0xFF, 0xFF, 0xFF,  // -1
                           0x01, 0x02, 0x03};       // a partial value
    float out[4] = {9, 9, 9, 9};
    EXPECT_EQ(3u, iqScale(raw, sizeof raw, 2.0f, out));
    EXPECT_FLOAT_EQ(-2.0f, out[0]);
    EXPECT_FLOAT_EQ(1.0f, out[1]);
    EXPECT_FLOAT_EQ(-2.0f / 2147483648.0f, out[2]);
    EXPECT_FLOAT_EQ(9.0f, out[3]);
    EXPECT_EQ(0u, iqScale(raw, -4, 1.0f, out));
}

TEST(IqStream, CompletedBlocksAreScaledAndCountedDownToTheSpectrum)
{
    ReaderFixture f;
    f.reader.globalOffset = 15.4f;  // +6 dB
    f.reader.lpOffset = 4.0f;
    f.serPar.lpLevel = 2;           // preamplifier on: +4 dB more
    f.works->divideSetting = 4;
    f.reader.errCounter = 7;
    EXPECT_TRUE(f.complete(1 << 30));
    EXPECT_EQ(0, f.reader.errCounter) << "a good block resets the error count";
    EXPECT_NEAR(std::pow(10.0, 10.0 / 20) / 2, f.block.samples[0], 1e-4);
    EXPECT_NEAR(-std::pow(10.0, 10.0 / 20) / 2, f.block.samples[1], 1e-4);
    // The countdown started at 1: this block was due and the next is 4 blocks on.
    EXPECT_EQ(4, f.reader.divide);
    for (int expected : {3, 2, 1, 4, 3}) {
        EXPECT_TRUE(f.complete(5));
        EXPECT_EQ(expected, f.reader.divide);
    }
    // A divider of 0 (or less) counts as 1 instead of stopping the lines for good.
    f.works->divideSetting = 0;
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(f.complete(5));
    EXPECT_EQ(1, f.reader.divide);

    // With the spectrum from the transceiver link, blocks are neither converted nor
    // counted, but go on being submitted.
    setSetupSwitch(f.setup.get(), &Orvosetup::fftMirror, '0');
    f.block.samples.fill(0.5f);
    f.works->divideSetting = 3;
    EXPECT_TRUE(f.complete(1 << 30));
    EXPECT_EQ(0.5f, f.block.samples[0]);
    EXPECT_EQ(1, f.reader.divide);
}

TEST(IqStream, ElevenBadCompletionsStopResubmission)
{
    ReaderFixture f;
    const int kinds[] = {LIBUSB_TRANSFER_ERROR,    LIBUSB_TRANSFER_TIMED_OUT, LIBUSB_TRANSFER_CANCELLED,
                         LIBUSB_TRANSFER_STALL,    LIBUSB_TRANSFER_NO_DEVICE, LIBUSB_TRANSFER_OVERFLOW};
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(iqBlockDone(f.reader, f.block, kinds[i % 6], 0)) << i;
    EXPECT_EQ(10, f.reader.errCounter);
    // A good block in between starts the count again.
    EXPECT_TRUE(f.complete(0));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(iqBlockDone(f.reader, f.block, LIBUSB_TRANSFER_TIMED_OUT, 0));
    EXPECT_FALSE(iqBlockDone(f.reader, f.block, LIBUSB_TRANSFER_TIMED_OUT, 0)) << "the 11th in a row";
    EXPECT_EQ(11, f.reader.errCounter);
    EXPECT_FALSE(iqBlockDone(f.reader, f.block, LIBUSB_TRANSFER_ERROR, 0)) << "the ones still in flight";

    // Once the reader stops, even good blocks stay home.
    ReaderFixture g;
    g.reader.stop = true;
    EXPECT_FALSE(g.complete(1));
}

// The line sizes of the "SP" chunks a peer socket received since the last call (the
// chunks' total field, one per line), draining it.
std::vector<uint32_t> linesSent(int fd)
{
    std::vector<uint32_t> totals;
    unsigned char chunk[14 + 512];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT | MSG_WAITALL);
        if (n <= 0)
            return totals;
        EXPECT_EQ(static_cast<ssize_t>(sizeof chunk), n);
        EXPECT_EQ('S', chunk[4]);
        EXPECT_EQ('P', chunk[5]);
        const uint32_t total = static_cast<uint32_t>(chunk[6]) << 24 | static_cast<uint32_t>(chunk[7]) << 16
            | static_cast<uint32_t>(chunk[8]) << 8 | chunk[9];
        const uint32_t offset = static_cast<uint32_t>(chunk[10]) << 24 | static_cast<uint32_t>(chunk[11]) << 16
            | static_cast<uint32_t>(chunk[12]) << 8 | chunk[13];
        if (offset == 0)
            totals.push_back(total);
    }
}

TEST(IqStream, SpectrumLinesUseThePlansMadeAtReaderStartNeverPlanInTheCallback)
{
    ReaderFixture f;
    installPeerLink(); // the spectrum lines reach the peer as in the program
    int peer[2] = {-1, -1};
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, peer));
    std::mutex sendMut;
    f.works->sendMut = &sendMut;
    f.works->wsSock = peer[0];
    f.works->wsConnected = 1;
    f.works->divideSetting = 1;
    setSetupSwitch(f.setup.get(), &Orvosetup::Enable1600, '0');

    // A reader whose transforms were not planned makes no line, and does not plan one in
    // the completion callback either.
    EXPECT_TRUE(f.complete(1 << 20));
    EXPECT_FALSE(f.reader.fftSmall);
    EXPECT_FALSE(f.reader.fftLarge);
    EXPECT_TRUE(linesSent(peer[1]).empty());

    // The reader's start plans both sizes; the blocks then use those very plans, for
    // either size, switched between two blocks.
    ASSERT_TRUE(planIqSpectrum(f.reader));
    ASSERT_TRUE(f.reader.fftSmall && f.reader.fftLarge);
    EXPECT_EQ(FFT_POINTS_SMALL, fftWorkPoints(*f.reader.fftSmall));
    EXPECT_EQ(FFT_POINTS_LARGE, fftWorkPoints(*f.reader.fftLarge));
    const FftWork* small = f.reader.fftSmall.get();
    const FftWork* large = f.reader.fftLarge.get();
    EXPECT_TRUE(f.complete(1 << 20));
    setSetupSwitch(f.setup.get(), &Orvosetup::Enable1600, '1');
    EXPECT_TRUE(f.complete(1 << 20));
    setSetupSwitch(f.setup.get(), &Orvosetup::Enable1600, '0');
    EXPECT_TRUE(f.complete(1 << 20));
    EXPECT_EQ((std::vector<uint32_t>{854, 1706, 854}), linesSent(peer[1]));
    EXPECT_EQ(small, f.reader.fftSmall.get());
    EXPECT_EQ(large, f.reader.fftLarge.get());
    f.works->wsConnected = 0;
    close(peer[0]);
    close(peer[1]);
}

TEST(IqStream, CommonExitRaisesErrorFiveAndAsksForARestart)
{
    ReaderFixture f;
    f.works->remoteThreadExited = 0;
    ExitIxoread(f.works.get());
    EXPECT_EQ(1, ExistError(f.works.get(), 5));
    EXPECT_EQ('0', setupSwitch(f.setup.get(), &Orvosetup::EnableFFT));
    EXPECT_EQ(1, f.works->remoteThreadExited.load());
}
