#include "core/setup.h"
#include "core/works.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// The file a unit writes when it has none: every key in order with its default.
const char* const defaultSetupText =
    "EnableKeyb: 1\nEnableSpi: 0\nEnableTouch: 0\nDelayedTouch: 0\nEnableGPIO: 1\nEnableRead: 0\n"
    "EnableWrite: 0\nEnableCAT: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 1\nPitch: 2500\nQuality: 100\n"
    "AudioIn: hw:1\nInChannels: 1\nAudioCompress: 0\nMultiplier: 2\nAudioOut: hw:1\nServer: 127.0.0.1\n"
    "TcpPort: 6666\nCatPort: /dev/ttyUSB0\nSerPort: /dev/ttyUSB1\nLinPort: /dev/ttyAMA0\nNumAntenna: 1\n"
    "EnablePwrPeak: 0\nTempMode: 0\nFreqSensIn: 0\nFreqPeriodTime: 10\nAttenuator: 0\nAttenuatorTune: 0\n"
    "SWRescAutoTune: 0\nViewTimeStr: 0\nViewTemp: 0\nMaxTemperature: 600\nMaxTemperature2: 800\n"
    "AutoTuneMaxCicli: 0\nPowerUnits: 0\nSaveScreenIdx: 0\nAutoTuneMode: 0\nEnableFFT: 0\nDivide: 0\n"
    "MaxTempAllowed: 60\nPSpar1: 1\nPSpar2: 1000\nIsteresi1: 1\nIsteresi2: 1\nPSpar3: 0\nPSpar4: 0\n"
    "OffsetPlot: 0\nCatSerialPort: /dev/ttyUSB1\nTUNEenabled: 0\nNumBanco: 1\nGMpar1: 2\nGMpar2: 100\n"
    "Peak_media: 2\nPeak_ValDec: 10\nPeak_TimeDec: 1\nPeak_Time: 3000\nMAXbank: 20\nBTN_longpress_Time: 5\n"
    "EnableDebug: 0\nEnable1600: 1\nEnableLOGTemp: 0\nAudioBuffers: 20\nAutoTuneTipo: 0\nCPUTempVentola: 80\n"
    "CPUPercVentola: 70\n";

struct SetupFixture : ::testing::Test {
    TestRoot root{"setup"};
    std::unique_ptr<Works> works = std::make_unique<Works>();
    std::unique_ptr<Orvosetup> record = std::make_unique<Orvosetup>();
    void SetUp() override { works->setup = record.get(); }
    std::string setupFile() const { return root.read("opt/set/setup.txt"); }
    int mountCalls() const
    {
        std::string log = root.read("sim/mount.log");
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }
};

TEST_F(SetupFixture, MissingFileIsWrittenWithDefaultsAndReadBackWithoutRewrite)
{
    readSetup(works.get());
    EXPECT_EQ(defaultSetupText, setupFile());
    EXPECT_EQ(2, mountCalls());  // read-write, then read-only again

    readSetup(works.get());
    EXPECT_EQ(2, mountCalls()) << "reading an existing file must not rewrite it";
    EXPECT_EQ(0, works->audioBitrate);
    EXPECT_EQ('1', works->setup->WebSocket);
    EXPECT_STREQ("/dev/ttyAMA0", works->setup->LinPort);
    EXPECT_STREQ("quintabrezza", works->remotePassword);

    writeSetup(works.get());
    EXPECT_EQ(defaultSetupText, setupFile()) << "a read and write round trip changes nothing";
}

TEST_F(SetupFixture, ConversionsReadAndWriteBackInFileUnits)
{
    root.write("opt/set/setup.txt",
               "NumAntenna: 3\r\nOffsetPlot: 25\nSWRescAutoTune: 150\nEnableFFT: 0\nEnable1600: 0\nMultiplier: 4\n"
               "MaxTemperature: 613\nBTN_longpress_Time: 7\nAudioCompress: 64000\nTcpPort: 7001\n"
               "Server: 10.1.2.3\nAutoTuneMode: 3\nPeak_ValDec: 15\n");
    readSetup(works.get());
    EXPECT_EQ(2, works->antenna);
    EXPECT_DOUBLE_EQ(2.0, works->offsetPlot);
    EXPECT_FLOAT_EQ(1.5f, works->swrEscAutoTune);
    EXPECT_EQ('0', works->setup->EnableFFT);
    EXPECT_EQ('1', works->setup->fftMirror);
    EXPECT_EQ(960, works->audioFrameSamples);
    EXPECT_FLOAT_EQ(61.3f, works->maxTemperature);
    EXPECT_DOUBLE_EQ(0.7, TIME_LONG_PRESS);
    EXPECT_EQ(64000, works->audioBitrate);
    EXPECT_EQ(7001, works->tcpPort);
    EXPECT_STREQ("10.1.2.3", works->serverAddr);
    EXPECT_EQ(3, works->autoTuneMode);

    writeSetup(works.get());
    std::string text = setupFile();
    EXPECT_NE(std::string::npos, text.find("NumAntenna: 3\n"));
    EXPECT_NE(std::string::npos, text.find("OffsetPlot: 20\n"));
    EXPECT_NE(std::string::npos, text.find("SWRescAutoTune: 150\n"));
    EXPECT_NE(std::string::npos, text.find("Multiplier: 4\n"));
    // 61.3 x 10 must come back as 613, not drift down to 612 on every save.
    EXPECT_NE(std::string::npos, text.find("MaxTemperature: 613\n"));
    EXPECT_NE(std::string::npos, text.find("BTN_longpress_Time: 7\n"));
    EXPECT_NE(std::string::npos, text.find("Peak_ValDec: 15\n"));
    EXPECT_NE(std::string::npos, text.find("AudioCompress: 64000\n"));
    EXPECT_NE(std::string::npos, text.find("TcpPort: 7001\n"));
    EXPECT_NE(std::string::npos, text.find("AutoTuneMode: 1\n")) << "only bit 0 is written back";
    // Keys missing from the file keep the start values of works, not the record's.
    EXPECT_NE(std::string::npos, text.find("MaxTempAllowed: 60\n"));
    EXPECT_NE(std::string::npos, text.find("WebSocket: 1\n"));
}

TEST_F(SetupFixture, OverlongValuesAndLinesAreCutSafely)
{
    std::string longLine = "Pitch: " + std::string(150, '7') + "\n";
    // The tail of an overlong line must not be read as a line of its own.
    std::string disguised = "Server: " + std::string(91, 'x') + "WebSocket: 2\n";
    root.write("opt/set/setup.txt", "LinPort: /dev/serial/by-id/very-long-device-name\n" + longLine + disguised +
                                        "Quality: 12345678\n");
    readSetup(works.get());
    EXPECT_STREQ("/dev/serial/", works->setup->LinPort);  // 12 characters and the zero
    EXPECT_STREQ("777777777", works->setup->Pitch);
    EXPECT_STREQ("123", works->setup->Quality);
    EXPECT_EQ('1', works->setup->WebSocket);
    EXPECT_EQ(15u, strlen(works->setup->Server));
}

TEST_F(SetupFixture, ZeroBytesNeverHideTheNextLine)
{
    // Zero bytes (a damaged card) inside or making up a line: the line still ends at its
    // line end, and the keys after it are read.
    using namespace std::string_literals;
    root.write("opt/set/setup.txt", "\0\0\0\0\nWebSocket: 2\nPitch: 12\0 34\nNumBanco: 7\n"s + std::string(120, '\0') +
                                        "\nMAXbank: 9\n");
    readSetup(works.get());
    EXPECT_EQ('2', works->setup->WebSocket);
    EXPECT_STREQ("12", works->setup->Pitch);
    EXPECT_EQ(7, works->numBanco);
    EXPECT_EQ(9, works->maxBank);
}

TEST_F(SetupFixture, MultiplierTooLargeForAFrameIsRefused)
{
    // 240 x 99999999 does not fit an int: the frame keeps its size instead of overflowing.
    root.write("opt/set/setup.txt", "Multiplier: 4\n");
    readSetup(works.get());
    EXPECT_EQ(960, works->audioFrameSamples);
    root.write("opt/set/setup.txt", "Multiplier: 99999999\n");
    readSetup(works.get());
    EXPECT_EQ(240, works->audioFrameSamples) << "the start value stays";
    root.write("opt/set/setup.txt", "Multiplier: -9999999\n");
    readSetup(works.get());
    EXPECT_EQ(240, works->audioFrameSamples);
}

TEST_F(SetupFixture, FailedRemountWritesNothing)
{
    root.write("opt/set/setup.txt", "WebSocket: 2\n");
    readSetup(works.get());
    EXPECT_EQ('2', works->setup->WebSocket);
    EXPECT_EQ("WebSocket: 2\n", setupFile()) << "reading leaves the file alone";

    root.write("sim/mount.fail", "");
    works->setup->WebSocket = '0';
    EXPECT_EQ(0, writeSetup(works.get()));
    EXPECT_EQ("WebSocket: 2\n", setupFile()) << "nothing is written when the partition stays read-only";

    std::filesystem::remove(root.path("sim/mount.fail"));
    writeSetup(works.get());
    EXPECT_NE(std::string::npos, setupFile().find("WebSocket: 0\n"));
    EXPECT_FALSE(root.exists("opt/set/setup.txt.tmp"));
}

} // namespace
