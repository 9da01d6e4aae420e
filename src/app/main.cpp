// ampctl: the controller of the amplifier. Start-up, the worker threads, orderly shutdown.
#include "app/startup_threads.h"
#include "app/works_setup.h"
#include "amplifier/filters.h"
#include "amplifier/link.h"
#include "amplifier/thermal.h"
#include "amplifier/thresholds.h"
#include "config/banks.h"
#include "config/network.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "remote/audio.h"
#include "remote/ws_frames.h"
#include "transceiver/serial_link.h"
#include "ui/buttons.h"
#include "ui/keyboard.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "ui/screen_loop.h"

#include <csignal>
#include <cstdio>

namespace {

Works* signalWorks = nullptr;

void stopOnSignal(int)
{
    if (signalWorks)
        signalWorks->running = 0;
}

void showPicture(Works* works, const char* name)
{
    setBackground(works, name);
    startFrame(works);
    fbRealize(works->fb);
}

// Start-up pauses end early once the program is asked to stop.
void pauseWhileRunning(Works* works, int64_t ms)
{
    for (int64_t slept = 0; slept < ms && works->running; slept += 100)
        sleepMs(100);
}

bool isOn(Works* works, char Orvosetup::* flag)
{
    return setupSwitch(works->setup, flag) == '1';
}

void joinLogged(ThreadId& slot, bool condition, const char* line)
{
    if (condition && joinThread(slot))
        logSys(LOG_INFO, "%s", line);
}

void shutDown(Works* works)
{
    Orvosetup* s = works->setup;
    logErr("Close..\n");
    showPicture(works, "start");
    drawFittedText(works->fb, 9, 8, 330, 10, 400, "Error! Close Program! Restart hw.", 255, 255, 255);
    fbRealize(works->fb);
    sleepMs(2000);
    logSys(LOG_INFO, "Radezevuvedo operations end");
    joinLogged(thrKey, isOn(works, &Orvosetup::EnableKeyb), "Radezevuvedo joined Key end");
    joinLogged(thrFFT, true, "Radezevuvedo joined FFT end");
    // The remote group's threads are joined whatever their switches say: one that ended on
    // its own turned its switch off, and is still to be joined.
    joinLogged(thrLeggi, true, "Radezevuvedo joined th_leggi end");
    joinLogged(thrScrivi, true, "Radezevuvedo joined th_scrivi end");
    joinLogged(thrWsock, setupSwitch(s, &Orvosetup::WebSocket) != '0', "Radezevuvedo joined Wsocket end");
    joinLogged(thrHamlib, true, "Radezevuvedo joined Hamlib end");
    joinLogged(thrCat, true, "Radezevuvedo joined Cat end");
    joinLogged(thrCatSer, isOn(works, &Orvosetup::enaCatSer), "Radezevuvedo joined CatSerial end");
    joinLogged(thrSer, isOn(works, &Orvosetup::enaser), "Radezevuvedo joined Serial end");
    joinLogged(thrLin, isOn(works, &Orvosetup::EnableLinear), "Radezevuvedo joined Linear end");
    joinLogged(thrTime, isOn(works, &Orvosetup::EnableTime), "Radezevuvedo joined Time end");
    joinLogged(thrGPIO, isOn(works, &Orvosetup::EnableGPIO), "Radezevuvedo joined GPIO end");
    destroyAudioCodecs(works);
    logErr("Closed!\n");
}

} // namespace

int main(int, char**)
{
    logErr("START Main ----------------------------------------------------------------\n");
    logErr("IXO MAV version %s\n", AMPCTL_VERSION);
    logSys(LOG_INFO, "IXO MAV version %s", AMPCTL_VERSION);

    // The records main owns for the life of the process.
    auto records = buildWorksRecords();
    Works* works = &records->works;
    FrameBuffer* fb = fbInit();
    setSlot(works->versione, AMPCTL_VERSION);
    works->fb = fb;
    StepTune1 = 8;
    // The transceiver's readers reach the remote peer through the link remote/ installs.
    installPeerLink();

    signalWorks = works;
    struct sigaction action {};
    action.sa_handler = stopOnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    removeStaleTempFiles();
    ReadConfigFile(works);
    InitMicroCmd(works);
    ReadVentolaFile(works);
    LoadTabFiltri(works);
    readSetup(works);
    LoadAllBankTable(works, works->numBanco);
    works->antennaRowIdx = -1;
    ReadLanParam();
    logErr("ModeWorkIdx %i \n", works->interfaceMode.load());

    loadPanelFonts();

    if (isOn(works, &Orvosetup::EnableGPIO))
        startThread(thrGPIO, GPIO, works);
    pauseWhileRunning(works, 1000);

    postTinyCmd(works, 197);
    StartThreadLinear(works);
    pauseWhileRunning(works, 1000);

    waitIXO = 10;
    works->lastActivity = monoMillis();
    showPicture(works, works->ampModel == '1' ? "start120" : "start");

    startInitThread = 1;
    startThread(thInit, LoadThread, works);
    pauseWhileRunning(works, (waitIXO + 1) * 1000);
    startInitThread = 0;

    startThread(thDebug, LANInfoThread, works);
    startThread(thAggFw, AggFWThread, works);

    showPicture(works, "statusB");
    InitMenuOrvo(works);
    SerParam parameters;
    LoadButtons(works, parameters);
    getParameters(&parameters, works);
    works->frequency = parameters.frequency;

    createAudioCodecs(works);

    if (isOn(works, &Orvosetup::EnableKeyb))
        startThread(thrKey, keyb, works);
    StartThreadSoket(works);
    StartThreadHamlib(works);
    StartThreadIXO(works);

    if (isOn(works, &Orvosetup::EnableWrite) || isOn(works, &Orvosetup::EnableRead) ||
        isOn(works, &Orvosetup::EnableCAT) || isOn(works, &Orvosetup::EnableFFT)) {
        ExitThreadRemote(works);
        pauseWhileRunning(works, 2000);
        StartThreadCommRemote(works);
        pauseWhileRunning(works, 2000);
        works->remoteActive = 1;
    }

    StartThreadCATserial(works);
    if (isOn(works, &Orvosetup::EnableTime))
        startThread(thrTime, timer, works);

    while (works->running)
        sleepMs(1000);

    shutDown(works);
    // The start-up threads end by themselves; wait for them so nothing outlives main.
    joinThread(thInit);
    joinThread(thDebug);
    joinThread(thAggFw);
    fbDestroy(fb);
    return 0;
}
