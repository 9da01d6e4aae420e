// The capture thread: the transceiver's receive audio from the USB sound interface, block by
// block, to the connected peer.
//
// The blocks are read by this thread itself, which waits on the device between reads. A
// signal-driven handler (ALSA's asynchronous notification) would run the encoder and the
// socket write inside a signal handler, where it can interrupt the very thread that holds
// the sender's lock; and plugin devices do not offer it at all.
#include "amplifier/errors.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/audio.h"
#include "remote/audio_device.h"
#include "remote/ws_frames.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

namespace {

constexpr int64_t PRESENCE_CHECK_MS = 2000;
constexpr int WAIT_MS = 100;
// Blocks read in one go before the thread looks at its switch again.
constexpr snd_pcm_sframes_t MAX_BLOCKS_PER_CALL = 8;

std::atomic<int> status_th_leggi{0};
std::atomic<AudioBlockSink> blockSink{nullptr};

void handOn(Works* works, const unsigned char* block)
{
    AudioBlockSink sink = blockSink.load();
    if (sink)
        sink(works, block);
    else
        sendWebSockAudioFrame(works, block);
}

// Period and buffer of the capture device: one period is one block the link sends, and the
// buffer holds at least CAPTURE_BUFFER_MS of whole blocks, room for the thread's waits on a
// busy board. Left unset, a device may take its largest buffer (a plugin's can be
// gigabytes, mapped and touched as it fills).
constexpr int CAPTURE_BUFFER_MS = 500;

bool setCaptureSizes(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, unsigned rate, int frames)
{
    snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(frames);
    const snd_pcm_uframes_t wanted = static_cast<snd_pcm_uframes_t>(rate) * CAPTURE_BUFFER_MS / 1000;
    snd_pcm_uframes_t buffer = (wanted + period - 1) / period * period;
    int dir = 0;
    if (!audio::step(snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir), "",
                     "cannot set capture period size (%s)") ||
        !audio::step(snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer), "", "cannot set capture buffer size (%s)"))
        return false;
    logSys(LOG_INFO, "capture hw_params period %lu frames, buffer %lu frames", static_cast<unsigned long>(period),
           static_cast<unsigned long>(buffer));
    return true;
}

// Hardware parameters of the capture device, each step logged; false on the first failure.
bool configure(Works* works, snd_pcm_t* pcm, int channels, int frames)
{
    snd_pcm_hw_params_t* hw = nullptr;
    if (!audio::step(snd_pcm_hw_params_malloc(&hw), "capture hw_params allocated",
                     "cannot allocate capture hardware parameter structure (%s)"))
        return false;
    unsigned rate = static_cast<unsigned>(works->audioRate.load());
    const bool ok =
        audio::step(snd_pcm_hw_params_any(pcm, hw), "capture hw_params initialized",
                    "cannot initialize capture hardware parameter structure (%s)") &&
        audio::step(snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED),
                    "capture hw_params access SND_PCM_ACCESS_RW_INTERLEAVED set", "cannot set capture access type (%s)") &&
        audio::step(snd_pcm_hw_params_set_format(pcm, hw, audio::sampleFormat(works)),
                    "capture hw_params SND_PCM_FORMAT_S16_LE format set", "cannot set capture sample format (%s)") &&
        [&] {
            const int rc = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr);
            if (rc >= 0) {
                works->audioRate = static_cast<int32_t>(rate);
                logSys(LOG_INFO, "capture hw_params rate set to %u", rate);
                return true;
            }
            return audio::step(rc, "", "cannot set capture sample rate (%s)");
        }() &&
        [&] {
            const int rc = snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(channels));
            if (rc >= 0) {
                logSys(LOG_INFO, "capture hw_params number of channels set to %d", channels);
                return true;
            }
            return audio::step(rc, "", "cannot set capture channel count (%s)");
        }() &&
        setCaptureSizes(pcm, hw, rate, frames) &&
        audio::step(snd_pcm_hw_params(pcm, hw), "capture hw_params set", "cannot set capture parameters (%s)");
    snd_pcm_hw_params_free(hw);
    if (!ok)
        return false;
    logSys(LOG_INFO, "capture hw_params freed");
    return audio::step(snd_pcm_prepare(pcm), "capture audio interface prepared",
                       "cannot prepare capture audio interface for use (%s)");
}

// The capture run: 0 when it ended because it was switched off or the program stops,
// -1 on a failure (the caller runs the exit routine).
int capture(Works* works)
{
    const char* name = works->setup->AudioIn;
    const int channels = std::atoi(works->setup->InChannels);
    works->inChannels = channels;
    if (channels < 1 || channels > 2) {
        logSys(LOG_ERR, "capture channel count %d not supported (1 or 2)", channels);
        logErr("capture channel count %d not supported (1 or 2)\n", channels);
        return -1;
    }

    snd_pcm_t* pcm = nullptr;
    int attempts = 0;
    const int err = audio::openDevice(works, &Orvosetup::EnableRead, &pcm, name, SND_PCM_STREAM_CAPTURE, &attempts);
    if (err < 0) {
        if (!audio::wanted(works, &Orvosetup::EnableRead))
            return 0;
        logSys(LOG_ERR, "cannot open capture audio device '%s' (%s) after %d/10\"", name, snd_strerror(err), attempts);
        logErr("cannot open capture audio device '%s' (%s)\n", name, snd_strerror(err));
        return -1;
    }
    works->pcmIn = pcm;
    logSys(LOG_INFO, "capture audio interface %s opened", name);
    status_th_leggi = 1;
    // The block size is fixed for this run: a later change of the setting takes effect at
    // the next start.
    const int frames = works->audioFrameSamples;
    if (frames <= 0) {
        logSys(LOG_ERR, "capture buffer not allocated");
        logErr("capture buffer not allocated\n");
        return -1;
    }
    if (!configure(works, pcm, channels, frames))
        return -1;

    std::vector<uint8_t> block(static_cast<size_t>(frames) * 4);
    logSys(LOG_INFO, "capture buffer allocated (%d)", frames * 4);
    if (!audio::step(snd_pcm_start(pcm), "capture audio interface started", "cannot start capture pcm handler (%s)"))
        return -1;

    int64_t nextCheck = monoMillis() + PRESENCE_CHECK_MS;
    while (audio::wanted(works, &Orvosetup::EnableRead)) {
        snd_pcm_wait(pcm, WAIT_MS);
        const int got = MyCallback(works, pcm, block.data(), static_cast<size_t>(frames));
        if (got < 0) {
            // An overrun (the device filled up while nobody read): start again from now.
            const int rc = snd_pcm_recover(pcm, got, 1);
            if (rc < 0 || snd_pcm_start(pcm) < 0) {
                audio::step(rc < 0 ? rc : got, "", "cannot recover capture audio interface (%s)");
                return -1;
            }
        }
        if (monoMillis() >= nextCheck) {
            nextCheck = monoMillis() + PRESENCE_CHECK_MS;
            if (VerifyAudioIXO(works) == 0) {
                logSys(LOG_ERR, "capture: USB sound interface %s not found", AUDIO_IXO_USB_ID);
                return -1;
            }
        }
    }

    if (!audio::step(snd_pcm_drop(pcm), "capture audio interface stopped", "cannot drop capture pcm handler (%s)") ||
        !audio::step(snd_pcm_drain(pcm), "capture audio interface drained", "cannot drain capture pcm handler (%s)"))
        return -1;
    block.clear();
    logSys(LOG_INFO, "buffer freed");
    logSys(LOG_INFO, "capture audio interface closed");
    snd_pcm_close(pcm);
    works->pcmIn = nullptr;
    status_th_leggi = 0;
    // Switched off: the switch says so. At the program's end it keeps its value, so the
    // thread is joined and the setting saved as it was.
    if (works->running)
        setSetupSwitch(works->setup, &Orvosetup::EnableRead, '0');
    logErr("th_leggi END\n");
    return 0;
}

} // namespace

void widenMonoToStereo(uint8_t* block, size_t frames)
{
    // From the last sample down, so no sample is overwritten before it has been copied.
    for (size_t k = frames; k-- > 0;) {
        const uint8_t lo = block[2 * k];
        const uint8_t hi = block[2 * k + 1];
        block[4 * k] = lo;
        block[4 * k + 1] = hi;
        block[4 * k + 2] = lo;
        block[4 * k + 3] = hi;
    }
}

int MyCallback(Works* works, snd_pcm_t* pcm, uint8_t* block, size_t frames)
{
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
    if (avail < 0)
        return static_cast<int>(avail);
    const auto n = static_cast<snd_pcm_sframes_t>(frames);
    const snd_pcm_sframes_t blocks = std::min(avail / n, MAX_BLOCKS_PER_CALL);
    // The sender takes audioFrameSamples frames from the block: a block of another size
    // (the setting changed under a running capture) is not handed on.
    const bool sizeAgrees = works->audioFrameSamples == static_cast<int32_t>(frames);
    int handed = 0;
    for (snd_pcm_sframes_t b = 0; b < blocks; b++) {
        const snd_pcm_sframes_t got = snd_pcm_readi(pcm, block, frames);
        if (got < 0)
            return static_cast<int>(got);
        if (got != n)
            continue;  // a short read in blocking mode: interrupted, the partial block is dropped
        if (works->inChannels == 1)
            widenMonoToStereo(block, frames);
        if (sizeAgrees) {
            handOn(works, block);
            ++handed;
        }
    }
    return handed;
}

void* th_leggi(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    if (capture(works) < 0)
        ExitAUDIOread(works);
    return nullptr;
}

void ExitAUDIOread(Works* works)
{
    logErr("th_leggi ERR\n");
    AddErrore(works, ERR_AUDIO_READ);
    // The switch drops before the device is closed (which can take a while) and before the
    // restart flag is raised: the error key's restart starts only switches at '0', and the
    // other audio thread may have raised the flag already. A restart meanwhile waits for
    // this thread to end.
    setSetupSwitch(works->setup, &Orvosetup::EnableRead, '0');
    if (status_th_leggi && works->pcmIn)
        snd_pcm_close(works->pcmIn);
    works->pcmIn = nullptr;
    status_th_leggi = 0;
    works->remoteThreadExited = 1;
}

void setAudioBlockSink(AudioBlockSink sink)
{
    blockSink = sink;
}
