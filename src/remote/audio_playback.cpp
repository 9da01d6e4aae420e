// The playback side of remote audio: th_scrivi keeps the output device open and ready while a
// peer is connected; the thread that receives the peer's audio plays each message through
// playRemoteAudio. The two meet under works->audioOutMutex.
#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/audio.h"
#include "remote/audio_device.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <opus/opus.h>
#include <vector>

namespace {

constexpr int START_DELAY_MS = 3000;
constexpr int WATCH_MS = 10;
constexpr snd_pcm_uframes_t FRAMES_PER_BUFFER_UNIT = 1024;
// A playback queue that has grown beyond this many frames (100 ms) is dropped.
constexpr long MAX_QUEUE_FRAMES = 4800;
// A drain that has not ended this long after the queue should have played out is cut off.
constexpr int64_t DRAIN_GRACE_MS = 500;
// Underruns come in runs while a peer's audio arrives unevenly: one line at most per
// UNDERRUN_REPORT_MS, counting those in between.
constexpr int64_t UNDERRUN_REPORT_MS = 60000;
std::atomic<int64_t> underrunReportedAt{0};
std::atomic<int> underrunsUnreported{0};

void reportFailedWrite(size_t frames, snd_pcm_sframes_t written)
{
    if (written == -EPIPE) {
        const int64_t now = monoMillis();
        const int64_t last = underrunReportedAt.load();
        if (last != 0 && now - last < UNDERRUN_REPORT_MS) {
            ++underrunsUnreported;
            return;
        }
        underrunReportedAt = now;
        logSys(LOG_ERR, "write to output audio interface failed %d (%d - %s), %d more underruns since the last line",
               static_cast<int>(frames), static_cast<int>(written), snd_strerror(static_cast<int>(written)),
               underrunsUnreported.exchange(0));
        return;
    }
    logSys(LOG_ERR, "write to output audio interface failed %d (%d - %s)", static_cast<int>(frames),
           static_cast<int>(written), snd_strerror(static_cast<int>(written)));
}

std::atomic<int> status_th_scrivi{0};

bool configure(Works* works, snd_pcm_t* pcm)
{
    snd_pcm_hw_params_t* hw = nullptr;
    if (!audio::step(snd_pcm_hw_params_malloc(&hw), "playback hw_params allocated",
                     "cannot allocate playback hardware parameter structure (%s)"))
        return false;
    unsigned rate = static_cast<unsigned>(works->audioRate.load());
    const int periods = works->audioBuffers;
    const auto bufferFrames = static_cast<snd_pcm_uframes_t>(periods) * FRAMES_PER_BUFFER_UNIT;
    const bool ok =
        audio::step(snd_pcm_hw_params_any(pcm, hw), "playback hw_params initialized",
                    "cannot initialize playback hardware parameter structure (%s)") &&
        audio::step(snd_pcm_hw_params_set_rate_resample(pcm, hw, 1), "playback hw_params resample set",
                    "cannot set playback resample to yes (%s)") &&
        audio::step(snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED),
                    "playback hw_params access SND_PCM_ACCESS_RW_INTERLEAVED set", "cannot set playback access type (%s)") &&
        audio::step(snd_pcm_hw_params_set_format(pcm, hw, audio::sampleFormat(works)),
                    "playback hw_params SND_PCM_FORMAT_S16_LE format set", "cannot set playback sample format (%s)") &&
        [&] {
            const int rc = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr);
            if (rc < 0)
                return audio::step(rc, "", "cannot set playback sample rate (%s)");
            logSys(LOG_INFO, "playback hw_params rate set to %u", rate);
            return true;
        }() &&
        audio::step(snd_pcm_hw_params_set_channels(pcm, hw, 2), "playback hw_params number of channels set to 2",
                    "Cannot set playback channel count (%s)") &&
        audio::stepWithValue(periods > 0 ? snd_pcm_hw_params_set_periods(pcm, hw, static_cast<unsigned>(periods), 0)
                                         : -EINVAL,
                             "playback hw_params periods set", "Cannot set periods %d (%s)", periods) &&
        audio::stepWithValue(periods > 0 ? snd_pcm_hw_params_set_buffer_size(pcm, hw, bufferFrames) : -EINVAL,
                             "playback hw_params buffer size set", "Cannot set buffersize %d (%s)",
                             static_cast<int>(bufferFrames)) &&
        audio::step(snd_pcm_hw_params(pcm, hw), "playback hw_params set", "cannot set playback parameters (%s)");
    snd_pcm_hw_params_free(hw);
    if (ok)
        logSys(LOG_INFO, "playback hw_params freed");
    return ok;
}

// Lets what is queued play out, but never waits for a device that has stopped taking
// samples (an interface pulled out while draining) longer than the queue lasts.
void drainBounded(Works* works, snd_pcm_t* pcm)
{
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_get_params(pcm, &bufferFrames, &periodFrames);
    const int rate = works->audioRate > 0 ? works->audioRate.load() : 48000;
    const int64_t deadline = monoMillis() + static_cast<int64_t>(bufferFrames) * 1000 / rate + DRAIN_GRACE_MS;
    snd_pcm_nonblock(pcm, 1);
    const int rc = snd_pcm_drain(pcm);
    if (rc < 0 && rc != -EAGAIN) {
        audio::step(rc, "", "cannot drain playback pcm handler (%s)");
        return;
    }
    while (snd_pcm_state(pcm) == SND_PCM_STATE_DRAINING && monoMillis() < deadline)
        sleepMs(WATCH_MS);
    snd_pcm_drop(pcm);
    snd_pcm_nonblock(pcm, 0);
}

// Takes the device and the block away from the audio writer; the caller closes the device.
snd_pcm_t* withdrawOutput(Works* works)
{
    std::lock_guard<std::mutex> lock(works->audioOutMutex);
    works->audioOutOn = 0;
    snd_pcm_t* pcm = works->pcmOut;
    works->pcmOut = nullptr;
    works->playBuf.clear();
    works->playBuf.shrink_to_fit();
    return pcm;
}

// Waits 10 ms at a time while the condition on the peer holds and playback is wanted,
// checking the sound interface each time; false when it has gone.
bool watch(Works* works, bool whileConnected)
{
    while (audio::wanted(works, &Orvosetup::EnableWrite) && (works->wsConnected != 0) == whileConnected) {
        if (VerifyAudioIXO(works) == 0) {
            logSys(LOG_ERR, "playback: USB sound interface %s not found", AUDIO_IXO_USB_ID);
            return false;
        }
        sleepMs(WATCH_MS);
    }
    return true;
}

// One device session: opened, configured, ready for the peer, drained when the peer goes.
// 1 to go round again, 0 when switched off, -1 on a failure.
int session(Works* works)
{
    const char* name = works->setup->AudioOut;
    snd_pcm_t* pcm = nullptr;
    int attempts = 0;
    const int err = audio::openDevice(works, &Orvosetup::EnableWrite, &pcm, name, SND_PCM_STREAM_PLAYBACK, &attempts);
    if (err < 0) {
        if (!audio::wanted(works, &Orvosetup::EnableWrite))
            return 0;
        logSys(LOG_ERR, "cannot open output audio device %s (%s)", name, snd_strerror(err));
        logErr("cannot open output audio device %s (%s)\n", name, snd_strerror(err));
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(works->audioOutMutex);
        works->pcmOut = pcm;
    }
    logSys(LOG_INFO, "output audio interface %s opened", name);
    status_th_scrivi = 1;
    if (!configure(works, pcm))
        return -1;

    // Prepared before the block is offered: samples written from then on are kept (a
    // prepare after the first message would drop what is queued).
    if (!audio::step(snd_pcm_prepare(pcm), "output audio interface prepared",
                     "cannot prepare output audio interface for use (%s)"))
        return -1;
    const int frames = works->audioFrameSamples;
    if (frames <= 0) {
        logSys(LOG_ERR, "playback buffer not allocated");
        logErr("playback buffer not allocated\n");
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(works->audioOutMutex);
        works->playBuf.assign(static_cast<size_t>(frames) * 4, 0);
        works->playFree1 = 0;
        works->playMinFree = 0;
        works->audioOutOn = 1;
    }
    logSys(LOG_INFO, "playback buffer allocated (%d)", frames * 4);

    if (!watch(works, false))
        return -1;
    if (!audio::wanted(works, &Orvosetup::EnableWrite))
        return 0;
    if (!watch(works, true))
        return -1;

    logSys(LOG_INFO, "output audio interface to be stopped");
    withdrawOutput(works);
    drainBounded(works, pcm);
    // Closed before the next peer's session opens it again.
    snd_pcm_close(pcm);
    status_th_scrivi = 0;
    logSys(LOG_INFO, "playback buffer freed");
    return 1;
}

int playback(Works* works)
{
    status_th_scrivi = 0;
    works->audioOutOn = 0;
    audio::pauseWhileWanted(works, &Orvosetup::EnableWrite, START_DELAY_MS);
    for (;;) {
        if (!audio::wanted(works, &Orvosetup::EnableWrite)) {
            logErr("output audio interface closed\n");
            logSys(LOG_INFO, "output audio interface closed");
            if (snd_pcm_t* pcm = withdrawOutput(works))
                snd_pcm_close(pcm);
            status_th_scrivi = 0;
            if (works->running)
                setSetupSwitch(works->setup, &Orvosetup::EnableWrite, '0');
            logErr("th_scrivi END\n");
            return 0;
        }
        if (session(works) < 0)
            return -1;
    }
}

// Stores decoded samples into the block as little-endian bytes, low byte first.
void storeLittleEndian(const opus_int16* samples, size_t count, uint8_t* out)
{
    for (size_t i = 0; i < count; i++) {
        const auto v = static_cast<uint16_t>(samples[i]);
        out[2 * i] = static_cast<uint8_t>(v & 0xff);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

} // namespace

void* th_scrivi(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    if (playback(works) < 0)
        ExitAUDIOwrite(works);
    return nullptr;
}

void ExitAUDIOwrite(Works* works)
{
    logErr("th_scrivi ERR\n");
    AddErrore(works, ERR_AUDIO_WRITE);
    // Switch off before the close, as the capture's exit routine does.
    setSetupSwitch(works->setup, &Orvosetup::EnableWrite, '0');
    snd_pcm_t* pcm = withdrawOutput(works);
    if (status_th_scrivi && pcm)
        snd_pcm_close(pcm);
    status_th_scrivi = 0;
    works->remoteThreadExited = 1;
}

int playRemoteAudio(Works* works, const unsigned char* data, size_t length)
{
    if (setupSwitch(works->setup, &Orvosetup::EnableWrite) != '1' || !works->audioOutOn)
        return 0;
    std::lock_guard<std::mutex> lock(works->audioOutMutex);
    snd_pcm_t* pcm = works->pcmOut;
    std::vector<uint8_t>& block = works->playBuf;
    if (!works->audioOutOn || !pcm || block.empty())
        return 0;
    const size_t capacity = block.size() / 4;  // frames

    snd_pcm_uframes_t frames = 0;
    if (works->audioBitrate != 0) {
        if (!works->opusDec) {
            logSys(LOG_ERR, "audio message dropped: no Opus decoder");
            return 0;
        }
        if (length > INT_MAX) {
            logSys(LOG_ERR, "audio message of %zu bytes refused: longer than any Opus packet", length);
            return -1;
        }
        thread_local std::vector<opus_int16> decoded;
        decoded.resize(capacity * 2);
        const int got = opus_decode(works->opusDec, data, static_cast<opus_int32>(length), decoded.data(),
                                    static_cast<int>(capacity), 0);
        if (got < 0) {
            // A packet that does not decode is heard as one block of silence.
            std::memset(block.data(), 0, capacity * 4);
            frames = capacity;
        } else {
            storeLittleEndian(decoded.data(), static_cast<size_t>(got) * 2, block.data());
            frames = static_cast<snd_pcm_uframes_t>(got);
        }
    } else {
        if (length > block.size()) {
            logSys(LOG_ERR, "audio message of %zu bytes refused: the playback block holds %zu", length, block.size());
            return -1;
        }
        std::memcpy(block.data(), data, length);
        frames = length / 4;
    }
    if (frames == 0)
        return 0;

    // Queue control: free1 is the room of the empty queue, minfree the least room seen. A
    // queue that has grown beyond 100 ms is dropped, and this message with it.
    const snd_pcm_sframes_t room = snd_pcm_avail(pcm);
    if (room > 0) {
        if (works->playFree1 == 0)
            works->playFree1 = works->playMinFree = room;
        else if (room < works->playMinFree)
            works->playMinFree = room;
    }
    if (works->playFree1 - works->playMinFree > MAX_QUEUE_FRAMES) {
        snd_pcm_reset(pcm);
        works->playMinFree = works->playFree1;
        return 0;
    }

    snd_pcm_sframes_t written = snd_pcm_writei(pcm, block.data(), frames);
    if (written == static_cast<snd_pcm_sframes_t>(frames))
        return 0;
    reportFailedWrite(frames, written);
    if (written == -EPIPE) {
        // An underrun: the device starts again with this block.
        snd_pcm_prepare(pcm);
        written = snd_pcm_writei(pcm, block.data(), frames);
        return written < 0 && written != -EPIPE ? -2 : 0;
    }
    return written < 0 ? -2 : 0;
}
