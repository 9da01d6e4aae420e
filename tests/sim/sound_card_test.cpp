// The simulated sound interface's control lines and its presence (lsusb and the USB
// device list).
#include "control.h"
#include "root_builder.h"
#include "sound_card.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(SimSoundCard, ControlLinesPlugTheCardAndChooseTheCaptureSource)
{
    const std::string root = sim::buildRoot(freshTempDir("sound-card"));
    EXPECT_NE(std::string::npos, readFile(sim::alsaConfigPath(root)).find(root + "/sim/audio_in.fifo"));
    writeFile(root + "/sim/lsusb", "Bus 001 Device 002: ID 1234:5678 Transceiver\n");
    {
        sim::SoundCard card(root);
        EXPECT_TRUE(sim::soundCardPresent(root)) << "a running card starts plugged in";
        const sim::ControlTargets targets{nullptr, nullptr, nullptr, nullptr, &card};
        EXPECT_EQ("", sim::applyControlLine(targets, "soundcard absent"));
        EXPECT_FALSE(sim::soundCardPresent(root));
        EXPECT_EQ("Bus 001 Device 002: ID 1234:5678 Transceiver\n", readFile(root + "/sim/lsusb"))
            << "the other devices stay";
        const std::string device = root + "/" + sim::kSoundCardSysfsDevice;
        EXPECT_FALSE(std::filesystem::exists(device)) << "pulled out of the USB device list too";
        EXPECT_EQ("", sim::applyControlLine(targets, "soundcard present"));
        EXPECT_TRUE(sim::soundCardPresent(root));
        EXPECT_EQ("0d8c\n", readFile(device + "/idVendor"));
        EXPECT_EQ("01af\n", readFile(device + "/idProduct"));

        for (const char* line : {"audio tone 1000", "audio tone 440.5 12000", "audio silence", "audio channels 2"})
            EXPECT_EQ("", sim::applyControlLine(targets, line)) << line;
        for (const char* line : {"soundcard", "soundcard gone", "audio", "audio tone", "audio tone -3", "audio tone 1000 40000",
                                 "audio tone 30000", "audio channels 3", "audio file /no/such/file"})
            EXPECT_NE("", sim::applyControlLine(targets, line)) << line;
        EXPECT_NE("", sim::applyControlLine(sim::ControlTargets{}, "audio silence")) << "no card, no audio lines";
    }
    EXPECT_FALSE(std::filesystem::exists(root + "/sim/audio_in.fifo")) << "the FIFOs go with the card";
    std::filesystem::remove_all(root);
}
