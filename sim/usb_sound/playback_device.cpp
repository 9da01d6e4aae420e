// The playback side of the simulated USB sound interface, as an ALSA external PCM type
// ("simcard"), loaded by the controller's ALSA through the root's configuration:
//
//   pcm_type.simcard { lib "<root>/sim/lib/libasound_module_pcm_simcard.so" }
//   pcm.hw { ... playback.pcm { type simcard file "<root>/sim/audio_out.fifo" } ... }
//
// It behaves in time as the real card does under the kernel's USB audio driver:
// - hardware parameters within what that driver offers a 16-bit stereo 48 kHz device: 2 to
//   1024 periods of 64 bytes to 512 KiB, a buffer of at most 1 MiB;
// - once started it takes queued frames off its buffer at 48000 frames a second of the
//   monotonic clock, one USB frame (1 ms) at a time, and writes them to the card's output
//   FIFO as they are played; the hardware pointer follows what has been played;
// - a running stream whose queue empties stops with an underrun (the pointer reports
//   -EPIPE, so writes fail with -EPIPE until the stream is prepared again);
// - its poll descriptor (an eventfd) is readable while the buffer has room for avail_min
//   frames, so a blocking write waits while the buffer is full;
// - drain plays out what is queued, then stops; a reset drops the queue.
// Rewinding and pausing are not offered.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kRate = 48000;
constexpr unsigned kChannels = 2;
constexpr unsigned kFrameBytes = 2 * kChannels;
constexpr unsigned kPeriodsMin = 2;
constexpr unsigned kPeriodsMax = 1024;
constexpr unsigned kPeriodBytesMin = 64;
constexpr unsigned kPeriodBytesMax = 512 * 1024;
constexpr unsigned kBufferBytesMax = 1024 * 1024;
constexpr auto kUsbFrame = std::chrono::milliseconds(1);

struct Device {
    snd_pcm_ioplug_t io{};
    int out = -1;   // the card's output FIFO
    int wake = -1;  // the poll descriptor
    std::thread player;

    std::mutex mutex;             // everything below
    std::condition_variable changed;
    bool closing = false;
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t availMin = 1;
    snd_pcm_uframes_t stopThreshold = 0;
    snd_pcm_uframes_t boundary = 0;
    std::vector<uint8_t> ring;    // the buffer, indexed by position modulo its frames
    // Positions in frames since the last prepare (or reset): written by the application,
    // played by the card; reported is the hardware position last told to ALSA.
    uint64_t appl = 0;
    uint64_t played = 0;
    uint64_t reported = 0;
    bool running = false;
    bool draining = false;
    bool xrun = false;
    bool signalled = false;
    Clock::time_point startedAt;
    uint64_t clockFrames = 0;     // frames of the clock already accounted for since the start
};

Device* deviceOf(snd_pcm_ioplug_t* io)
{
    return static_cast<Device*>(io->private_data);
}

snd_pcm_uframes_t queued(const Device* d)
{
    return static_cast<snd_pcm_uframes_t>(d->appl - d->played);
}

// The eventfd is readable exactly while a writer would not wait: room for avail_min
// frames, or an underrun to report.
void updateWake(Device* d)
{
    const bool ready = d->xrun || d->bufferFrames - queued(d) >= d->availMin;
    if (ready && !d->signalled) {
        const uint64_t one = 1;
        d->signalled = ::write(d->wake, &one, sizeof one) == sizeof one;
    } else if (!ready && d->signalled) {
        uint64_t count = 0;
        d->signalled = ::read(d->wake, &count, sizeof count) != sizeof count;
    }
}

// Takes in what ALSA did to its pointers without telling the device: a reset sets both to
// 0 (the queue is dropped, a running card goes on and finds it empty); otherwise the
// application pointer tells how much is queued. ALSA tells a plugin nothing at a reset, so
// it is seen at the application's next call (its next write, as a rule): until then the
// card plays on from the dropped queue.
void follow(Device* d)
{
    if (d->bufferFrames == 0)
        return;  // not set up yet
    const snd_pcm_uframes_t boundary = d->boundary ? d->boundary : d->bufferFrames;
    const snd_pcm_uframes_t alsaHw = d->io.hw_ptr;
    const snd_pcm_uframes_t alsaAppl = d->io.appl_ptr;
    const uint64_t ahead = (alsaAppl + boundary - alsaHw) % boundary;
    if (alsaHw != d->reported % boundary || d->reported + ahead < d->played) {
        d->played = d->reported = 0;
        d->appl = ahead;
    } else {
        d->appl = d->reported + ahead;
    }
}

// Plays what the clock says is due: called by the player with the lock held. Returns the
// frames to write to the card's output.
std::vector<uint8_t> play(Device* d, Clock::time_point now)
{
    std::vector<uint8_t> outBytes;
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - d->startedAt).count();
    const uint64_t due = static_cast<uint64_t>(elapsed) * kRate / 1000000000u;
    uint64_t frames = due - d->clockFrames;
    d->clockFrames = due;
    if (frames > queued(d))
        frames = queued(d);
    for (uint64_t i = 0; i < frames; i++) {
        const uint8_t* frame = d->ring.data() + (d->played % d->bufferFrames) * kFrameBytes;
        outBytes.insert(outBytes.end(), frame, frame + kFrameBytes);
        ++d->played;
    }
    if (d->draining && queued(d) == 0) {
        // Played out: the stream stops, as at the end of a drain.
        d->running = d->draining = false;
        snd_pcm_ioplug_set_state(&d->io, SND_PCM_STATE_SETUP);
        d->changed.notify_all();
    } else if (d->stopThreshold <= d->bufferFrames && d->bufferFrames - queued(d) >= d->stopThreshold) {
        d->running = false;
        d->xrun = true;
    }
    updateWake(d);
    return outBytes;
}

// The card's clock: every USB frame, what is due leaves the buffer for the output.
void playerLoop(Device* d)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    while (!d->closing) {
        if (!d->running) {
            d->changed.wait(lock);
            continue;
        }
        const Clock::time_point startedAt = d->startedAt;
        const auto tick = startedAt + kUsbFrame * ((d->clockFrames * 1000 / kRate) + 1);
        d->changed.wait_until(lock, tick, [&] { return d->closing || !d->running || d->startedAt != startedAt; });
        if (d->closing || !d->running || d->startedAt != startedAt || Clock::now() < tick)
            continue;
        const std::vector<uint8_t> outBytes = play(d, Clock::now());
        if (outBytes.empty())
            continue;
        lock.unlock();
        // Whatever the card's output cannot take is lost, as sound nobody hears.
        [[maybe_unused]] const ssize_t n = ::write(d->out, outBytes.data(), outBytes.size());
        lock.lock();
    }
}

void begin(Device* d)
{
    d->running = true;
    d->startedAt = Clock::now();
    d->clockFrames = 0;
    d->changed.notify_all();
}

int deviceStart(snd_pcm_ioplug_t* io)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    follow(d);
    // As the kernel: a playback stream with nothing queued cannot start.
    if (queued(d) == 0 && d->stopThreshold <= d->bufferFrames)
        return -EPIPE;
    begin(d);
    return 0;
}

int deviceStop(snd_pcm_ioplug_t* io)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->running = d->draining = false;
    d->changed.notify_all();
    updateWake(d);
    return 0;
}

snd_pcm_sframes_t devicePointer(snd_pcm_ioplug_t* io)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    follow(d);
    if (d->xrun)
        return -EPIPE;
    if (d->bufferFrames == 0)
        return 0;
    d->reported = d->played;
    return static_cast<snd_pcm_sframes_t>(d->played % (d->boundary ? d->boundary : d->bufferFrames));
}

snd_pcm_sframes_t deviceTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                 snd_pcm_uframes_t size)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    follow(d);
    if (size > d->bufferFrames - queued(d))
        size = d->bufferFrames - queued(d);
    snd_pcm_channel_area_t ring[kChannels];
    for (unsigned c = 0; c < kChannels; c++)
        ring[c] = {d->ring.data(), c * 16, kFrameBytes * 8};
    snd_pcm_uframes_t done = 0;
    while (done < size) {
        const snd_pcm_uframes_t at = (d->appl + done) % d->bufferFrames;
        const snd_pcm_uframes_t n = std::min(size - done, d->bufferFrames - at);
        snd_pcm_areas_copy(ring, at, areas, offset + done, kChannels, n, SND_PCM_FORMAT_S16_LE);
        done += n;
    }
    d->appl += size;
    updateWake(d);
    return static_cast<snd_pcm_sframes_t>(size);
}

int deviceClose(snd_pcm_ioplug_t* io)
{
    Device* d = deviceOf(io);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->closing = true;
        d->changed.notify_all();
    }
    if (d->player.joinable())
        d->player.join();
    ::close(d->out);
    ::close(d->wake);
    delete d;
    return 0;
}

int deviceHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->bufferFrames = io->buffer_size;
    d->ring.assign(d->bufferFrames * kFrameBytes, 0);
    d->availMin = io->period_size;
    d->stopThreshold = io->buffer_size;
    return 0;
}

int deviceSwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    snd_pcm_uframes_t availMin = 1;
    snd_pcm_sw_params_get_avail_min(params, &availMin);
    snd_pcm_sw_params_get_stop_threshold(params, &d->stopThreshold);
    snd_pcm_sw_params_get_boundary(params, &d->boundary);
    d->availMin = availMin ? availMin : 1;
    updateWake(d);
    return 0;
}

int devicePrepare(snd_pcm_ioplug_t* io)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->running = d->draining = d->xrun = false;
    d->appl = d->played = d->reported = 0;
    d->changed.notify_all();
    updateWake(d);
    return 0;
}

int deviceDrain(snd_pcm_ioplug_t* io)
{
    Device* d = deviceOf(io);
    std::unique_lock<std::mutex> lock(d->mutex);
    follow(d);
    if (d->xrun || queued(d) == 0) {
        d->running = false;
        return 0;
    }
    if (!d->running)
        begin(d);
    d->draining = true;
    if (io->nonblock)
        return -EAGAIN;
    d->changed.wait(lock, [&] { return !d->draining || d->closing; });
    return 0;
}

int devicePause(snd_pcm_ioplug_t*, int)
{
    return -ENOSYS;
}

int devicePollRevents(snd_pcm_ioplug_t* io, struct pollfd*, unsigned int, unsigned short* revents)
{
    Device* d = deviceOf(io);
    std::lock_guard<std::mutex> lock(d->mutex);
    follow(d);
    updateWake(d);
    *revents = d->signalled ? POLLOUT : 0;
    return 0;
}

const snd_pcm_ioplug_callback_t callbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = deviceStart;
    c.stop = deviceStop;
    c.pointer = devicePointer;
    c.transfer = deviceTransfer;
    c.close = deviceClose;
    c.hw_params = deviceHwParams;
    c.sw_params = deviceSwParams;
    c.prepare = devicePrepare;
    c.drain = deviceDrain;
    c.pause = devicePause;
    c.poll_revents = devicePollRevents;
    return c;
}();

// What the kernel's USB audio driver offers for this card.
int constrain(snd_pcm_ioplug_t* io)
{
    const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned format[] = {SND_PCM_FORMAT_S16_LE};
    int err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, format);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, kChannels, kChannels);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, kRate, kRate);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, kPeriodsMin, kPeriodsMax);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, kPeriodBytesMin, kPeriodBytesMax);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, kPeriodsMin * kPeriodBytesMin,
                                              kBufferBytesMax);
    return err;
}

// The player runs with every signal blocked: the process's signals go to its own threads,
// and a write to an output nobody reads any more fails instead of raising SIGPIPE.
std::thread startPlayer(Device* d)
{
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    std::thread t(playerLoop, d);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return t;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(simcard)
{
    (void)root;
    const char* path = nullptr;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0 || std::strcmp(id, "hint") == 0)
            continue;
        if (std::strcmp(id, "file") == 0 && snd_config_get_string(n, &path) >= 0)
            continue;
        SNDERR("simcard: unknown field %s", id);
        return -EINVAL;
    }
    if (!path) {
        SNDERR("simcard: no output file");
        return -EINVAL;
    }
    if (stream != SND_PCM_STREAM_PLAYBACK) {
        SNDERR("simcard: a playback device");
        return -EINVAL;
    }
    auto* d = new Device;
    // The card's end of the FIFO is open while the card runs; without it the card is not there.
    d->out = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    d->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d->out < 0 || d->wake < 0) {
        const int err = -errno;
        if (d->out >= 0)
            ::close(d->out);
        if (d->wake >= 0)
            ::close(d->wake);
        delete d;
        return err;
    }
    d->io.version = SND_PCM_IOPLUG_VERSION;
    d->io.name = "Simulated USB sound interface";
    d->io.callback = &callbacks;
    d->io.private_data = d;
    d->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
    d->io.poll_fd = d->wake;
    d->io.poll_events = POLLIN;
    int err = snd_pcm_ioplug_create(&d->io, name, stream, mode);
    if (err < 0) {
        ::close(d->out);
        ::close(d->wake);
        delete d;
        return err;
    }
    err = constrain(&d->io);
    d->player = startPlayer(d);
    if (err < 0) {
        snd_pcm_ioplug_delete(&d->io);
        return err;
    }
    *pcmp = d->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(simcard)

} // extern "C"
