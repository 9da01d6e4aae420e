#include "remote/audio.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <string>

void* th_leggi(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::EnableRead, '1');
    return nullptr;
}

void* th_scrivi(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::EnableWrite, '1');
    return nullptr;
}

// The playback device is not built yet: received audio is dropped.
void playRemoteAudio(Works*, const unsigned char*, size_t) {}

int Get_AudioIXO(Works*)
{
    const std::string output = readShell("lsusb | grep 0d8c");
    int lines = 0;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        logErr("----------------- %.*s\n", static_cast<int>(end - start), output.data() + start);
        ++lines;
        start = end + 1;
    }
    return lines;
}
