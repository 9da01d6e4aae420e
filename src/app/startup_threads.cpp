#include "app/startup_threads.h"

#include "config/network.h"
#include "core/threads.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>

std::atomic<int> startInitThread{0};

void* LoadThread(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    int counter = waitIXO;
    bool posted = false;
    while (startInitThread) {
        fbSetBack(works->fb);
        sleepMs(1000);
        char text[32];
        snprintf(text, sizeof text, "Loading ...%2d", counter);
        if (counter <= 4 && !posted) {
            postTinyCmd(works, 181);
            posted = true;
        }
        putString(9, 300, 400, text, 255, 255, 255, works->fb, 0);
        counter--;
        fbRealize(works->fb);
        logErr("Time %s..\n", text);
    }
    postTinyCmd(works, 181);
    works->startupDone = 1;
    return nullptr;
}

void* AggFWThread(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    for (int i = 0; i < 30 && works->running; i++)
        sleepMs(1000);
    if (!works->running)
        return nullptr;
    if (remountRw() != 0)
        return nullptr;
    if (runShell("rm -f /opt/good >/dev/null 2>&1") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't :rm -f /opt/good >/dev/null 2>&1  ->error %d", err);
        logErr("can't :rm -f /opt/good >/dev/null 2>&1  ->error %d\n", err);
        return nullptr;
    }
    remountRo();
    logErr("--------- END THREAD AGG FW!!!\n");
    return nullptr;
}

void* LANInfoThread(void* arg)
{
    ReadLANconnection(static_cast<Works*>(arg));
    return nullptr;
}
