// The simulated USB receiver: its settings file and control lines, its signal, and the
// libusb stand-in covering every libusb function the controller calls.
#include "control.h"
#include "root_builder.h"
#include "support/files.h"
#include "usb_receiver/receiver_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> libusbSymbols(const std::string& command)
{
    std::set<std::string> out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) {
        std::istringstream line(buf);
        std::string word, last;
        while (line >> word)
            last = word;
        if (last.rfind("libusb_", 0) == 0)
            out.insert(last);
    }
    pclose(p);
    return out;
}

} // namespace

TEST(UsbReceiverSim, SettingsFileAndControlLines)
{
    const std::filesystem::path dir = freshTempDir("usb-receiver");
    const std::string root = sim::buildRoot(dir.string());
    sim::UsbReceiver receiver(root);
    sim::ControlTargets targets;
    targets.usb = &receiver;

    EXPECT_EQ("", sim::applyControlText(targets, "usb tones clear\nusb tone 12000 -30\nusb tone -4500.5 -72\n"
                                                 "usb noise -100\nusb offsets 20 3.5 -12\nusb product 0x6151\n"
                                                 "usb step 93.75\nusb fault timeout\nusb unplug\nusb foreign 0x6018\n"));
    // The file the stand-in reads holds exactly these settings.
    const sim::UsbReceiverSettings read = sim::parseReceiverSettings(readFile(sim::receiverSettingsPath(root)));
    ASSERT_EQ(2u, read.tones.size());
    EXPECT_EQ(12000, read.tones[0].hz);
    EXPECT_EQ(-72, read.tones[1].dbfs);
    EXPECT_EQ(-4500.5, read.tones[1].hz);
    EXPECT_EQ(-100, read.noiseDbfs);
    EXPECT_EQ(20.0f, read.globalOffset);
    EXPECT_EQ(3.5f, read.lpOffset);
    EXPECT_EQ(-12.0f, read.attOffset);
    EXPECT_EQ(0x6151, read.product);
    EXPECT_EQ(93.75, read.stepHz);
    EXPECT_EQ("timeout", read.fault);
    EXPECT_TRUE(read.unplugged);
    EXPECT_EQ(0x6018, read.foreignProduct);
    EXPECT_EQ(sim::formatReceiverSettings(receiver.settings()), sim::formatReceiverSettings(read));

    // Bad lines change nothing and say what is wrong; without a receiver the line is refused.
    for (const char* bad : {"usb tone 1000", "usb tone 1000 3", "usb fault sometimes", "usb product 0x10000",
                            "usb rate 10", "usb", "usb present 2", "usb foreign x"})
        EXPECT_NE("", sim::applyControlLine(targets, bad)) << bad;
    EXPECT_EQ(sim::formatReceiverSettings(read), sim::formatReceiverSettings(receiver.settings()));
    EXPECT_NE("", sim::applyControlLine(sim::ControlTargets{}, "usb plug"));
    EXPECT_EQ("", sim::applyControlLine(targets, "usb plug"));
    EXPECT_FALSE(receiver.settings().unplugged);
    std::filesystem::remove_all(dir);
}

TEST(UsbReceiverSim, SignalHasTheTonesLevelAndFrequency)
{
    sim::UsbReceiverSettings s;
    s.rate = 192000;
    s.noiseDbfs = -200;
    s.tones = {{24000, -6.0206}};  // half of full scale, an eighth of the rate
    sim::IqSignal signal;
    std::vector<uint8_t> block(8 * 64);
    signal.fill(s, block.data(), 64);
    auto value = [&](size_t i) {
        int32_t v;
        std::memcpy(&v, &block[4 * i], 4);
        return static_cast<double>(v) / 2147483648.0;
    };
    for (size_t n = 0; n + 1 < 64; ++n) {
        const double re = value(2 * n), im = value(2 * n + 1);
        EXPECT_NEAR(0.5, std::hypot(re, im), 1e-6) << n;
        // Each sample turns the phasor by 2 pi / 8, counter-clockwise (positive frequency).
        const double turn = std::arg(std::complex<double>(value(2 * n + 2), value(2 * n + 3))
                                     / std::complex<double>(re, im));
        EXPECT_NEAR(M_PI / 4, turn, 1e-6) << n;
    }
}

TEST(UsbReceiverSim, StandInServesEveryLibusbFunctionTheControllerCalls)
{
    const std::set<std::string> wanted = libusbSymbols(std::string("nm -D --undefined-only ") + AMPCTL_BIN);
    const std::set<std::string> served =
        libusbSymbols(std::string("nm -D --defined-only ") + AMPCTL_BUILD_DIR "/sim-usb/libusb-1.0.so.0");
    ASSERT_FALSE(wanted.empty()) << "ampctl calls libusb";
    for (const std::string& f : wanted)
        EXPECT_TRUE(served.count(f)) << f << " is called by ampctl but not served by the stand-in";
}
