#include "core/threads.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "config/network.h"
#include "core/setup.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "remote/audio.h"
#include "remote/ws_client.h"
#include "remote/ws_server.h"
#include "transceiver/cat_serial.h"
#include "transceiver/cat_usb.h"
#include "transceiver/iq_stream.h"
#include "transceiver/serial_link.h"

#include <cerrno>
#include <cstdio>

ThreadId thrGPIO, thrLin, thInit, thDebug, thAggFw, thrKey, thrWsock, thrSer, thrLeggi, thrScrivi, thrCat, thrFFT,
    thrCatSer, thrTime;
int waitIXO = 0;
volatile int startInitThread = 0;

int startThread(ThreadId& slot, void* (*entry)(void*), Works* works)
{
    if (slot.valid) {
        // A thread restarted by its switch: the previous one must have ended.
        if (pthread_tryjoin_np(slot.id, nullptr) != 0) {
            logErr("thread still running, not started again\n");
            return -1;
        }
        slot.valid = false;
    }
    if (pthread_create(&slot.id, nullptr, entry, works) != 0) {
        logSys(LOG_ERR, "can't start thread error %d", errno);
        return -1;
    }
    slot.valid = true;
    return 0;
}

bool joinThread(ThreadId& slot)
{
    if (!slot.valid)
        return false;
    pthread_join(slot.id, nullptr);
    slot.valid = false;
    return true;
}

void StartThreadLinear(Works* works)
{
    if (works->setup->EnableLinear == '1')
        startThread(thrLin, Linear, works);
}

void StartThreadSoket(Works* works)
{
    if (works->setup->WebSocket == '1') {
        logErr(">>>>>>>>>> SOCKET SERVER start\n");
        startThread(thrWsock, Wsocket, works);
    } else if (works->setup->WebSocket == '2') {
        logErr(">>>>>>>>>> SOCKET CLIENT start\n");
        startThread(thrWsock, Wclient, works);
    }
}

void StartThreadIXO(Works* works)
{
    if (works->setup->enaser == '1') {
        logErr("IXOread start\n");
        startThread(thrSer, Serial, works);
    }
}

void StartThreadCATserial(Works* works)
{
    if (works->setup->enaCatSer == '1')
        startThread(thrCatSer, CatSerial, works);
}

void StartThreadAudioRead(Works* works)
{
    if (works->setup->EnableRead == '1') {
        logErr("Th_leggi start\n");
        startThread(thrLeggi, th_leggi, works);
    }
}

void StartThreadAudioWrite(Works* works)
{
    if (works->setup->EnableWrite == '1') {
        logErr("Th_scrivi start\n");
        startThread(thrScrivi, th_scrivi, works);
    }
}

void StartThreadCAT(Works* works)
{
    if (works->setup->EnableCAT == '1') {
        logErr("Cat start\n");
        startThread(thrCat, Cat, works);
    }
}

void StartIxoReadFFT(Works* works)
{
    if (works->setup->EnableFFT == '1')
        startThread(thrFFT, IXORead, works);
}

void StartThreadCommRemote(Works* works)
{
    works->remoteThreadExited = 0;
    Orvosetup* s = works->setup;
    struct RemoteSwitch {
        char* flag;
        void (*start)(Works*);
    };
    const RemoteSwitch group[] = {{&s->EnableWrite, StartThreadAudioWrite},
                                  {&s->EnableRead, StartThreadAudioRead},
                                  {&s->EnableCAT, StartThreadCAT},
                                  {&s->EnableFFT, StartIxoReadFFT}};
    for (const RemoteSwitch& r : group) {
        if (*r.flag == '0') {
            *r.flag = '1';
            r.start(works);
        }
    }
    writeSetup(works);
    postTinyCmd(works, 149);
}

void ExitThreadRemote(Works* works)
{
    Orvosetup* s = works->setup;
    s->EnableWrite = s->EnableRead = s->EnableCAT = s->EnableFFT = '0';
    sleepMs(500);
    for (int code : {9, 10, 5, 20})
        DeleteErrore(works, code);
    writeSetup(works);
    postTinyCmd(works, 165);
    logErr(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
}

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
    if (runShell("mount -o remount defaults,rw /opt/set") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't mount rw /opt/set/ error %d", err);
        logErr("can't mount rw /opt/set/ error %d\n", err);
        return nullptr;
    }
    if (runShell("rm -f /opt/good >/dev/null 2>&1") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't :rm -f /opt/good >/dev/null 2>&1  ->error %d", err);
        logErr("can't :rm -f /opt/good >/dev/null 2>&1  ->error %d\n", err);
        return nullptr;
    }
    if (runShell("mount -v -n -o remount -r /opt/set") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't mount ro /opt/set/ error %d", err);
    }
    logErr("--------- END THREAD AGG FW!!!\n");
    return nullptr;
}

void* LANInfoThread(void* arg)
{
    ReadLANconnection(static_cast<Works*>(arg));
    return nullptr;
}

void idleUntilStopped(Works* works, const char* threadSwitch, char onValue)
{
    while (works->running && (!threadSwitch || *threadSwitch == onValue))
        sleepMs(100);
}
