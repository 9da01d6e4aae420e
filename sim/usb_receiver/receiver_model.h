#pragma once
// The simulated USB receiver: its identity, calibration, signal (tones plus noise) and
// faults. The controller reaches it through a stand-in for libusb-1.0
// (usb_receiver/libusb_stand_in.cpp, built as <build>/sim-usb/libusb-1.0.so.0), which the
// simulated unit puts first on the controller's library path: the controller calls libusb
// as on the unit, and the stand-in serves the receiver from <root>/sim/usb_receiver, a text
// file of the settings below that the simulator rewrites (atomically) when they change
// and the stand-in reads again when it changes:
//
//   present 0|1            the receiver is on the bus
//   product PID            its product ID (decimal or 0x..; 0x6151 and 0x6152 are refused)
//   rate HZ                sample rate (192000: a line spans +-80 kHz)
//   offsets G LP ATT       calibration floats in dB (global, preamplifier, attenuator)
//   noise DBFS             complex Gaussian noise, RMS, dB full scale
//   tone HZ DBFS           a tone (any number of lines), frequency from the centre
//   step HZ                every tone moves by HZ from one block to the next (counted
//                          from the first block after the settings changed)
//   fault none|error|timeout|stall|overflow|nodevice   how the bulk transfers complete
//   unplugged 0|1          the device is gone: requests and submits fail with NO_DEVICE
//   foreign PID            another gadget of the receiver's vendor number (0: none), listed
//                          before the receiver, with a kernel driver bound to interface 0;
//                          it answers no vendor request. Opening it, detaching its driver
//                          or claiming it is logged like the receiver's requests.
//
// Control lines ("usb ..." in sim/control, and the test library):
//   usb tone HZ DBFS | usb tones clear | usb noise DBFS | usb step HZ | usb rate HZ
//   usb offsets G LP ATT | usb product PID | usb foreign PID | usb present 0|1
//   usb fault KIND        transfer errors (KIND none ends them)
//   usb unplug | usb plug
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct UsbTone {
    double hz = 0;
    double dbfs = 0;
};

struct UsbReceiverSettings {
    bool present = true;
    uint16_t product = 0x6150;
    double rate = 192000;
    float globalOffset = 15.4f;  // 6 dB of gain in the controller's scaling
    float lpOffset = 3.0f;
    float attOffset = -20.0f;
    double noiseDbfs = -110;
    std::vector<UsbTone> tones{{10000, -40}};
    double stepHz = 0;
    std::string fault = "none";
    bool unplugged = false;
    uint16_t foreignProduct = 0;
};

constexpr uint16_t kReceiverVendor = 0x1d50;

std::string formatReceiverSettings(const UsbReceiverSettings& s);
// Reads the file form; unknown or bad lines are skipped (returned in `errors`).
UsbReceiverSettings parseReceiverSettings(std::string_view text, std::string* errors = nullptr);
// Applies the words of a control line after "usb"; "" when done, else what is wrong.
std::string applyReceiverWords(UsbReceiverSettings& s, const std::vector<std::string>& words);
std::string receiverSettingsPath(const std::string& root);

// The receiver of one simulated unit, as the simulator and the tests change it.
class UsbReceiver {
public:
    explicit UsbReceiver(std::string root);
    UsbReceiver(const UsbReceiver&) = delete;
    UsbReceiver& operator=(const UsbReceiver&) = delete;
    UsbReceiverSettings settings() const;
    // Replaces the settings and writes the file.
    void set(const UsbReceiverSettings& s);
    // One control line without its "usb" word; "" when done.
    std::string apply(const std::vector<std::string>& words);

private:
    void writeLocked();
    std::string root_;
    mutable std::mutex mutex_;
    UsbReceiverSettings settings_;
};

// The sample stream: blocks of interleaved I, Q as little-endian signed 32-bit values.
class IqSignal {
public:
    // Fills `complexSamples` samples of the next block into out (8 bytes each).
    void fill(const UsbReceiverSettings& s, uint8_t* out, size_t complexSamples);
    // New settings: the tones' steps count from the next block.
    void restart() { blocks_ = 0; }

private:
    std::vector<double> phases_;
    std::mt19937_64 random_{12345};
    uint64_t blocks_ = 0;
};

} // namespace sim
