#pragma once
// The USB sound interface of the simulated unit (the C-Media device 0d8c:01af), as the
// controller reaches it: through ALSA, by the device names of setup.txt ("hw:1" and the
// like), configured by <root>/sim/asound.conf (the controller runs with ALSA_CONFIG_PATH
// pointing there):
//
//   capture   ALSA's file plugin (over its null plugin) reads <root>/sim/audio_in.fifo; the
//             card writes a tone (or silence, or a raw file looped) there in real time,
//             48 kHz 16-bit, one or two channels, 240 frames every 5 ms. A read returns as
//             soon as the card has written, so capture adds no delay of its own. Samples
//             nobody reads are dropped once half a second is waiting, as when a card's
//             capture buffer overruns.
//   playback  the card's own playback device, an ALSA plugin (sim/usb_sound/, type simcard,
//             loaded from <root>/sim/lib): it plays its buffer at 48000 frames a second of
//             the monotonic clock, underruns when the queue runs dry and makes a writer wait
//             while the buffer is full, as the real card does; the frames it plays go to
//             <root>/sim/audio_out.fifo the moment they are played (two channels), and the
//             card appends them to <root>/sim/audio_out.raw, the playback file.
//
// Presence: while the card is plugged in (setSoundCardPresent) it has its line in
// <root>/sim/lsusb (what `lsusb` prints) and its device directory in the kernel's USB
// device list, <root>/sys/bus/usb/devices/1-1.4 (idVendor 0d8c, idProduct 01af). A
// running SoundCard starts plugged in.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

constexpr int kSoundRate = 48000;
constexpr const char* kSoundCardSysfsDevice = "sys/bus/usb/devices/1-1.4";
constexpr const char* kSoundCardLsusbLine = "Bus 001 Device 005: ID 0d8c:01af C-Media Electronics, Inc. Audio Adapter";

// The ALSA configuration of the root (written by buildRoot).
std::string alsaConfigPath(const std::string& root);
std::string alsaConfigText(const std::string& root);
// Where the configuration looks for the playback device's plugin (the root builder links it
// there from the build).
std::string playbackDevicePath(const std::string& root);
// Plugs the card in or pulls it out: its line in <root>/sim/lsusb (other lines kept) and
// its device directory in the USB device list.
void setSoundCardPresent(const std::string& root, bool present);
bool soundCardPresent(const std::string& root);

class SoundCard {
public:
    explicit SoundCard(const std::string& root);
    ~SoundCard();
    SoundCard(const SoundCard&) = delete;
    SoundCard& operator=(const SoundCard&) = delete;
    void stop();

    // What the capture side records from now on: a sine of hz (0: silence) at the
    // amplitude (of 32767), or a raw 16-bit little-endian file played in a loop ("" ends it).
    void setTone(double hz, int amplitude = 8000);
    bool setCaptureFile(const std::string& path);
    // Channels of the capture stream: it must match the controller's "InChannels".
    void setCaptureChannels(int channels);

    // Plugs the card in or pulls it out (its lsusb line and USB device); the ALSA devices stay.
    void setPresent(bool present) { setSoundCardPresent(root_, present); }

    std::string playbackPath() const { return playbackPath_; }
    // Frames (two channels) the playback side has put into the playback file.
    uint64_t playedFrames() const { return playedFrames_; }
    // Frames dropped on the capture side because nobody read them.
    uint64_t overrunFrames() const { return overrunFrames_; }

    // Latency probe: the next setTone with a non-zero frequency records when its first
    // sample entered the capture device, and the first playback sample after it whose size
    // exceeds threshold records when it came out (monotonic seconds, 0 until then).
    void armProbe(int threshold);
    // The playback half of the probe alone, from now on (the tone comes from another unit).
    void listen(int threshold);
    double probeToneAt() const { return probeToneAt_; }
    double probeSoundAt() const { return probeSoundAt_; }

private:
    void captureLoop();
    void playbackLoop();
    void fillChunk(std::vector<int16_t>& chunk, size_t frames, int channels);

    std::string root_;
    std::string capturePath_;
    std::string playbackFifo_;
    std::string playbackPath_;
    int captureFd_ = -1;
    int playbackFd_ = -1;
    int wake_[2] = {-1, -1};
    std::thread captureThread_;
    std::thread playbackThread_;
    std::atomic<bool> running_{false};

    std::mutex sourceMutex_;  // the source below
    double toneHz_ = 0;
    int amplitude_ = 0;
    double phase_ = 0;
    std::vector<int16_t> file_;
    size_t filePos_ = 0;
    int channels_ = 1;
    bool probeArmed_ = false;
    bool probeWaitTone_ = false;

    std::atomic<uint64_t> playedFrames_{0};
    std::atomic<uint64_t> overrunFrames_{0};
    std::atomic<int> probeThreshold_{0};
    std::atomic<bool> probeListening_{false};
    std::atomic<double> probeToneAt_{0};
    std::atomic<double> probeSoundAt_{0};
};

// A control line ("soundcard ..." or "audio ...", control.h); "" when done, else what is wrong.
std::string applySoundCardLine(SoundCard& card, const std::vector<std::string>& words);

} // namespace sim
