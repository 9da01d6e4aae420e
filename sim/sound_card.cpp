#include "sound_card.h"
#include "thread_name.h"

#include "platform/clock.h"
#include "root_builder.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t kChunkFrames = 240;                  // 5 ms
constexpr int64_t kChunkMicros = 5000;
constexpr int kIdleChunks = 10;                       // 50 ms between looks at a full buffer
// Samples nobody has read for half a second are lost, as when a card's capture buffer
// overruns. (A real card's buffer starts empty when the device is opened; this FIFO fills
// whether or not the controller has it open, so a larger one would hand a newly opened
// capture that much old sound.)
constexpr size_t kMaxWaitingFrames = kSoundRate / 2;
constexpr int kPipeBytes = 256 * 1024;  // room for that in two channels

void makeFifo(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode))
        ::unlink(path.c_str());
    if (mkfifo(path.c_str(), 0666) != 0 && errno != EEXIST)
        throw std::runtime_error("mkfifo " + path + ": " + std::strerror(errno));
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One ALSA device whose playback is the card's own playback device (the simcard plugin,
// writing its output FIFO in real time) and whose capture reads the card's input FIFO;
// the arguments of "hw:CARD,DEV" are taken and ignored, so any card number of the
// settings reaches the same interface.
std::string deviceBlock(const std::string& name, const std::string& in, const std::string& out)
{
    return "pcm." + name + " {\n"
           "  @args [ CARD DEV SUBDEV ]\n"
           "  @args.CARD { type string default \"1\" }\n"
           "  @args.DEV { type integer default 0 }\n"
           "  @args.SUBDEV { type integer default -1 }\n"
           "  type asym\n"
           "  playback.pcm {\n"
           "    type simcard\n"
           "    file \"" + out + "\"\n"
           "  }\n"
           "  capture.pcm {\n"
           "    type file\n"
           "    slave.pcm { type null }\n"
           "    file \"/dev/null\"\n"
           "    infile \"" + in + "\"\n"
           "    format \"raw\"\n"
           "  }\n"
           "}\n";
}

} // namespace

std::string alsaConfigPath(const std::string& root)
{
    return rootPath(root, "sim/asound.conf");
}

std::string playbackDevicePath(const std::string& root)
{
    return rootPath(root, "sim/lib/libasound_module_pcm_simcard.so");
}

std::string alsaConfigText(const std::string& root)
{
    const std::string in = rootPath(root, "sim/audio_in.fifo");
    const std::string out = rootPath(root, "sim/audio_out.fifo");
    return "# The simulated unit's sound interface (written by ampsim): playback through the\n"
           "# card's own device plugin, capture through ALSA's file plugin over its null plugin.\n"
           "pcm_type.simcard { lib \"" + playbackDevicePath(root) + "\" }\n" +
           deviceBlock("hw", in, out) + deviceBlock("plughw", in, out) + deviceBlock("default", in, out);
}

void setSoundCardPresent(const std::string& root, bool present)
{
    const std::string path = rootPath(root, "sim/lsusb");
    std::istringstream old(readText(path));
    std::string kept;
    for (std::string line; std::getline(old, line);) {
        if (line.find("0d8c:01af") == std::string::npos)
            kept += line + "\n";
    }
    if (present)
        kept += std::string(kSoundCardLsusbLine) + "\n";
    const std::string tmp = path + ".new";
    std::ofstream(tmp, std::ios::binary | std::ios::trunc) << kept;
    ::rename(tmp.c_str(), path.c_str());
    // The kernel's view of the same device: its directory in the USB device list.
    const std::filesystem::path device = rootPath(root, kSoundCardSysfsDevice);
    if (present) {
        std::filesystem::create_directories(device);
        std::ofstream(device / "idVendor", std::ios::trunc) << "0d8c\n";
        std::ofstream(device / "idProduct", std::ios::trunc) << "01af\n";
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(device, ignored);
    }
}

bool soundCardPresent(const std::string& root)
{
    return readText(rootPath(root, "sim/lsusb")).find("0d8c:01af") != std::string::npos;
}

SoundCard::SoundCard(const std::string& root)
    : root_(root), capturePath_(rootPath(root, "sim/audio_in.fifo")),
      playbackFifo_(rootPath(root, "sim/audio_out.fifo")), playbackPath_(rootPath(root, "sim/audio_out.raw"))
{
    makeFifo(capturePath_);
    makeFifo(playbackFifo_);
    std::ofstream(playbackPath_, std::ios::binary | std::ios::trunc);
    // Held open for reading and writing, so the controller's opens never wait for a peer and
    // its reads never see an end of file while the card runs.
    captureFd_ = ::open(capturePath_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    playbackFd_ = ::open(playbackFifo_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (captureFd_ >= 0)
        fcntl(captureFd_, F_SETPIPE_SZ, kPipeBytes);
    if (captureFd_ < 0 || playbackFd_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        stop();
        throw std::runtime_error("sound card FIFOs: " + std::string(std::strerror(errno)));
    }
    setSoundCardPresent(root_, true);
    running_ = true;
    captureThread_ = std::thread([this] {
        nameThisThread("sim-capture");
        captureLoop();
    });
    playbackThread_ = std::thread([this] {
        nameThisThread("sim-playback");
        playbackLoop();
    });
}

SoundCard::~SoundCard()
{
    stop();
}

void SoundCard::stop()
{
    if (running_.exchange(false) && wake_[1] >= 0) {
        const char c = 'q';
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    }
    if (captureThread_.joinable())
        captureThread_.join();
    if (playbackThread_.joinable())
        playbackThread_.join();
    for (int* fd : {&captureFd_, &playbackFd_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    // Without the card's end held open a controller's open would wait for ever: the FIFOs go
    // with the card, and an open then fails as with an interface that is not there.
    ::unlink(capturePath_.c_str());
    ::unlink(playbackFifo_.c_str());
}

void SoundCard::setTone(double hz, int amplitude)
{
    std::lock_guard<std::mutex> lock(sourceMutex_);
    toneHz_ = hz;
    amplitude_ = amplitude;
    phase_ = 0;
    file_.clear();
    if (probeArmed_ && hz > 0) {
        probeArmed_ = false;
        probeWaitTone_ = true;
    }
}

bool SoundCard::setCaptureFile(const std::string& path)
{
    const std::string bytes = path.empty() ? std::string() : readText(path);
    std::lock_guard<std::mutex> lock(sourceMutex_);
    file_.assign(bytes.size() / 2, 0);
    if (!file_.empty())
        std::memcpy(file_.data(), bytes.data(), file_.size() * 2);
    filePos_ = 0;
    return path.empty() || !file_.empty();
}

void SoundCard::setCaptureChannels(int channels)
{
    std::lock_guard<std::mutex> lock(sourceMutex_);
    channels_ = channels == 2 ? 2 : 1;
}

void SoundCard::armProbe(int threshold)
{
    std::lock_guard<std::mutex> lock(sourceMutex_);
    probeListening_ = false;
    probeToneAt_ = 0;
    probeSoundAt_ = 0;
    probeThreshold_ = threshold;
    probeArmed_ = true;
    probeWaitTone_ = false;
}

void SoundCard::listen(int threshold)
{
    probeSoundAt_ = 0;
    probeThreshold_ = threshold;
    probeListening_ = true;
}

void SoundCard::fillChunk(std::vector<int16_t>& chunk, size_t frames, int channels)
{
    chunk.assign(frames * static_cast<size_t>(channels), 0);
    if (!file_.empty()) {
        for (int16_t& s : chunk) {
            s = file_[filePos_];
            filePos_ = (filePos_ + 1) % file_.size();
        }
        return;
    }
    if (toneHz_ <= 0)
        return;
    const double step = 2 * M_PI * toneHz_ / kSoundRate;
    for (size_t f = 0; f < frames; f++) {
        const auto v = static_cast<int16_t>(std::lround(amplitude_ * std::sin(phase_)));
        for (int c = 0; c < channels; c++)
            chunk[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = v;
        phase_ = std::fmod(phase_ + step, 2 * M_PI);
    }
}

void SoundCard::captureLoop()
{
    std::vector<int16_t> chunk;
    int64_t due = static_cast<int64_t>(monoSeconds() * 1e6);
    while (running_) {
        due += kChunkMicros;
        const int64_t wait = due - static_cast<int64_t>(monoSeconds() * 1e6);
        if (wait > 0) {
            pollfd p{wake_[0], POLLIN, 0};
            if (poll(&p, 1, static_cast<int>((wait + 999) / 1000)) > 0)
                break;
        }
        int channels;
        bool probeTone;
        int waiting = 0;
        ioctl(captureFd_, FIONREAD, &waiting);
        {
            std::lock_guard<std::mutex> lock(sourceMutex_);
            channels = channels_;
            if (static_cast<size_t>(waiting) / (2 * static_cast<size_t>(channels)) >= kMaxWaitingFrames) {
                // Nobody reads: the chunk is lost, and so are the next ones until a reader
                // could have taken something, without a wake-up for each of them.
                overrunFrames_ += kChunkFrames * kIdleChunks;
                due += kChunkMicros * (kIdleChunks - 1);
                continue;
            }
            fillChunk(chunk, kChunkFrames, channels);
            probeTone = probeWaitTone_;
            probeWaitTone_ = false;
        }
        const size_t bytes = chunk.size() * 2;
        if (::write(captureFd_, chunk.data(), bytes) != static_cast<ssize_t>(bytes)) {
            overrunFrames_ += kChunkFrames;
            continue;
        }
        if (probeTone) {
            probeToneAt_ = monoSeconds();
            probeListening_ = true;
        }
    }
}

void SoundCard::playbackLoop()
{
    std::ofstream out(playbackPath_, std::ios::binary | std::ios::app);
    std::vector<int16_t> buf(8192);
    size_t carry = 0;  // bytes of a frame cut by the last read
    auto* bytes = reinterpret_cast<char*>(buf.data());
    while (running_) {
        pollfd p[2] = {{playbackFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, 200) <= 0 || (p[1].revents & POLLIN))
            continue;
        const ssize_t n = ::read(playbackFd_, bytes + carry, buf.size() * 2 - carry);
        if (n <= 0)
            continue;
        const double now = monoSeconds();
        const size_t have = carry + static_cast<size_t>(n);
        const size_t whole = have / 4 * 4;
        out.write(bytes, static_cast<std::streamsize>(whole));
        out.flush();
        if (probeListening_ && probeSoundAt_ == 0) {
            const int threshold = probeThreshold_;
            for (size_t i = 0; i < whole / 2; i++) {
                if (std::abs(static_cast<int>(buf[i])) > threshold) {
                    probeSoundAt_ = now;
                    break;
                }
            }
        }
        playedFrames_ += whole / 4;
        carry = have - whole;
        std::memmove(bytes, bytes + whole, carry);
    }
}

std::string applySoundCardLine(SoundCard& card, const std::vector<std::string>& w)
{
    if (w[0] == "soundcard") {
        if (w.size() != 2 || (w[1] != "present" && w[1] != "absent"))
            return "usage: soundcard present|absent";
        card.setPresent(w[1] == "present");
        return "";
    }
    const std::string usage = "usage: audio tone HZ [AMPLITUDE] | audio silence | audio file PATH | audio channels 1|2";
    if (w.size() < 2)
        return usage;
    char* end = nullptr;
    if (w[1] == "tone" && (w.size() == 3 || w.size() == 4)) {
        const double hz = std::strtod(w[2].c_str(), &end);
        if (*end || hz < 0 || hz > kSoundRate / 2)
            return usage;
        long amplitude = 8000;
        if (w.size() == 4) {
            amplitude = std::strtol(w[3].c_str(), &end, 10);
            if (*end || amplitude < 0 || amplitude > 32767)
                return usage;
        }
        card.setTone(hz, static_cast<int>(amplitude));
        return "";
    }
    if (w[1] == "silence" && w.size() == 2) {
        card.setTone(0, 0);
        return "";
    }
    if (w[1] == "file" && w.size() == 3)
        return card.setCaptureFile(w[2]) ? "" : "cannot read " + w[2];
    if (w[1] == "channels" && w.size() == 3 && (w[2] == "1" || w[2] == "2")) {
        card.setCaptureChannels(w[2][0] - '0');
        return "";
    }
    return usage;
}

} // namespace sim
