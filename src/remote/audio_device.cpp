#include "remote/audio_device.h"

#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/usb_devices.h"
#include "remote/audio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace audio {

bool wanted(Works* works, char Orvosetup::* threadSwitch)
{
    return works->running && setupSwitch(works->setup, threadSwitch) == '1';
}

bool pauseWhileWanted(Works* works, char Orvosetup::* threadSwitch, int64_t ms)
{
    const int64_t end = monoMillis() + ms;
    for (;;) {
        if (!wanted(works, threadSwitch))
            return false;
        const int64_t left = end - monoMillis();
        if (left <= 0)
            return true;
        sleepMs(left < 50 ? left : 50);
    }
}

int openDevice(Works* works, char Orvosetup::* threadSwitch, snd_pcm_t** pcm, const char* name,
               snd_pcm_stream_t stream, int* attempts)
{
    int err = -ENODEV;
    *attempts = 0;
    while (*attempts < OPEN_ATTEMPTS) {
        ++*attempts;
        err = snd_pcm_open(pcm, name, stream, 0);
        if (err >= 0)
            return 0;
        *pcm = nullptr;
        if (works->enableDebug)
            logErr("open audio device %s attempt %d: %s\n", name, *attempts, snd_strerror(err));
        if (!pauseWhileWanted(works, threadSwitch, OPEN_RETRY_MS))
            break;
    }
    if (works->enableDebug)
        logErr("open audio device %s: %d attempts\n", name, *attempts);
    return err;
}

bool step(int rc, const char* okLine, const char* failFormat)
{
    return stepWithValue(rc, okLine, failFormat, 0);
}

bool stepWithValue(int rc, const char* okLine, const char* failFormat, int value)
{
    if (rc >= 0) {
        logSys(LOG_INFO, "%s", okLine);
        return true;
    }
    char text[256];
    const bool withValue = std::strstr(failFormat, "%d") != nullptr;
    if (withValue)
        std::snprintf(text, sizeof text, failFormat, value, snd_strerror(rc));
    else
        std::snprintf(text, sizeof text, failFormat, snd_strerror(rc));
    logSys(LOG_ERR, "%s", text);
    logErr("%s\n", text);
    return false;
}

snd_pcm_format_t sampleFormat(const Works* works)
{
    return static_cast<snd_pcm_format_t>(works->audioFormat.load());
}

namespace {

// A shell pipeline read line by line; the absolute paths in it mapped to the root.
struct ShellPipe {
    explicit ShellPipe(const char* command) : pipe(popen(mapCommand(command).c_str(), "r")) {}
    ~ShellPipe()
    {
        if (pipe)
            pclose(pipe);
    }
    // The status of pclose (-1 when it fails); the pipe is closed after.
    int close()
    {
        const int rc = pclose(pipe);
        pipe = nullptr;
        return rc;
    }
    FILE* pipe;
};

} // namespace

} // namespace audio

int VerifyAudioIXO(Works*)
{
    // Checked every 10 ms while audio plays: the kernel's device list, not a process per look.
    return countUsbDevices(SOUND_CARD_VENDOR, SOUND_CARD_PRODUCT);
}

int Get_AudioIXO(Works*)
{
    audio::ShellPipe p("lsusb | grep 0d8c");
    if (!p.pipe) {
        logErr("Error opening pipe.\n");
        return 0;
    }
    int lines = 0;
    std::string line;
    char chunk[256];
    // A line longer than the chunk is one line still: it ends only at its line feed.
    while (fgets(chunk, sizeof chunk, p.pipe)) {
        line += chunk;
        if (line.back() != '\n' && !feof(p.pipe))
            continue;
        if (line.back() == '\n')
            line.pop_back();
        logErr("----------------- %s\n", line.c_str());
        ++lines;
        line.clear();
    }
    if (!line.empty()) {
        logErr("----------------- %s\n", line.c_str());
        ++lines;
    }
    if (p.close() == -1) {
        logErr(" Error!\n");
        return 0;
    }
    return lines;
}
