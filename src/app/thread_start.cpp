// The table of thread entries by slot and switch: the start functions that the rest of the
// program calls by name, and the remote thread group.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/audio.h"
#include "remote/hamlib_server.h"
#include "remote/ws_client.h"
#include "remote/ws_server.h"
#include "transceiver/cat_serial.h"
#include "transceiver/cat_usb.h"
#include "transceiver/iq_stream.h"
#include "transceiver/serial_link.h"

#include <cstdio>

namespace {


// One thread started by a setup switch. When the start fails (its previous run has not
// ended), the switch goes back to '0' so the setup record tells the truth, and the error of
// the thread's own retry path is raised.
struct SwitchedThread {
    char Orvosetup::* flag;
    ThreadId* slot;
    ThreadEntry entry;
    const char* startLine;  // written to stderr before the start, or null
    int failError;          // error raised when the start fails, -1 none
    bool remoteGroup;       // restarted by the error key's remote restart
};

const SwitchedThread audioWrite{&Orvosetup::EnableWrite, &thrScrivi, th_scrivi, "Th_scrivi start\n", ERR_AUDIO_WRITE,
                                true};
const SwitchedThread audioRead{&Orvosetup::EnableRead, &thrLeggi, th_leggi, "Th_leggi start\n", ERR_AUDIO_READ, true};
const SwitchedThread catUsb{&Orvosetup::EnableCAT, &thrCat, Cat, "Cat start\n", ERR_REMOTE_CAT, true};
const SwitchedThread iqStream{&Orvosetup::EnableFFT, &thrFFT, IXORead, nullptr, ERR_REMOTE_USB, true};
const SwitchedThread serialLink{&Orvosetup::enaser, &thrSer, Serial, "IXOread start\n", ERR_IXO_EXTIO, false};
const SwitchedThread catSerial{&Orvosetup::enaCatSer, &thrCatSer, CatSerial, nullptr, -1, false};

void startSwitched(Works* works, const SwitchedThread& t)
{
    if (setupSwitch(works->setup, t.flag) != '1')
        return;
    if (t.startLine)
        logErr("%s", t.startLine);
    if (startThread(*t.slot, t.entry, works) == 0)
        return;
    setSetupSwitch(works->setup, t.flag, '0');
    if (t.remoteGroup)
        works->remoteThreadExited = 1;
    if (t.failError >= 0)
        AddErrore(works, t.failError);
}

} // namespace

void StartThreadLinear(Works* works)
{
    if (setupSwitch(works->setup, &Orvosetup::EnableLinear) != '1')
        return;
    // The link's switch is a stored setting: a failed start shows the link's error screen,
    // whose retry key starts it again, and leaves the setting as it is.
    if (startThread(thrLin, Linear, works) != 0) {
        setFatalError(works, 1, "Linear: previous link still running");
    }
}

void StartThreadSoket(Works* works)
{
    const char mode = setupSwitch(works->setup, &Orvosetup::WebSocket);
    if (mode == '1') {
        logErr(">>>>>>>>>> SOCKET SERVER start\n");
        startThread(thrWsock, Wsocket, works);
    } else if (mode == '2') {
        logErr(">>>>>>>>>> SOCKET CLIENT start\n");
        startThread(thrWsock, Wclient, works);
    }
}

void StartThreadIXO(Works* works)
{
    startSwitched(works, serialLink);
}

void StartThreadCATserial(Works* works)
{
    startSwitched(works, catSerial);
}

void StartThreadAudioRead(Works* works)
{
    startSwitched(works, audioRead);
}

void StartThreadAudioWrite(Works* works)
{
    startSwitched(works, audioWrite);
}

void StartThreadCAT(Works* works)
{
    startSwitched(works, catUsb);
}

void StartIxoReadFFT(Works* works)
{
    startSwitched(works, iqStream);
}

void StartThreadCommRemote(Works* works)
{
    works->remoteThreadExited = 0;
    Orvosetup* s = works->setup;
    struct RemoteSwitch {
        char Orvosetup::* flag;
        void (*start)(Works*);
    };
    const RemoteSwitch group[] = {{&Orvosetup::EnableWrite, StartThreadAudioWrite},
                                  {&Orvosetup::EnableRead, StartThreadAudioRead},
                                  {&Orvosetup::EnableCAT, StartThreadCAT},
                                  {&Orvosetup::EnableFFT, StartIxoReadFFT}};
    for (const RemoteSwitch& r : group) {
        if (setupSwitch(s, r.flag) == '0') {
            setSetupSwitch(s, r.flag, '1');
            r.start(works);
        }
    }
    writeSetup(works);
    postTinyCmd(works, 149);
}

void ExitThreadRemote(Works* works)
{
    Orvosetup* s = works->setup;
    for (char Orvosetup::* flag : {&Orvosetup::EnableWrite, &Orvosetup::EnableRead, &Orvosetup::EnableCAT,
                                   &Orvosetup::EnableFFT})
        setSetupSwitch(s, flag, '0');
    sleepMs(500);
    for (int code : {ERR_AUDIO_READ, ERR_AUDIO_WRITE, ERR_REMOTE_USB, ERR_REMOTE_CAT})
        DeleteErrore(works, code);
    writeSetup(works);
    postTinyCmd(works, 165);
    logErr(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
}

void SwitchRemoteUse(Works* works)
{
    if (works->remoteActive == 1) {
        works->remoteActive = 0;
        return;
    }
    Orvosetup* s = works->setup;
    if (setupSwitch(s, &Orvosetup::EnableFFT) != '0') {
        works->remoteActive = 1;
        return;
    }
    const int links = Find_Remote_Settings(works);
    const int audio = Get_AudioIXO(works);
    const char enaser = setupSwitch(s, &Orvosetup::enaser);
    logErr("j=%d i=%d enaser=%c\n", links, audio, enaser);
    if (links == 0 && audio != 0 && enaser == '1') {
        works->remoteActive = 1;
        works->remoteThreadExited = 0;
        logErr("Remote GO!\n");
        return;
    }
    works->remoteThreadExited = 1;
    if (links == 1)
        AddErrore(works, ERR_REMOTE_USB);
    else if (links == 2)
        AddErrore(works, ERR_REMOTE_CAT);
    else if (links == 3)
        AddErrore(works, ERR_AUDIO_READ);
    if (audio == 0)
        AddErrore(works, ERR_AUDIO_MISSING);
    if (enaser != '1')
        AddErrore(works, ERR_IXO_MODE);
    logErr("Remote ERROR!\n");
}

void ConfirmRemoteUse(Works* works)
{
    if (works->remoteActive == 1) {
        Orvosetup* s = works->setup;
        if (setupSwitch(s, &Orvosetup::WebSocket) == '0') {
            setSetupSwitch(s, &Orvosetup::WebSocket, '1');
            StartThreadSoket(works);
        }
        StartThreadCommRemote(works);
    } else {
        ExitThreadRemote(works);
    }
}

void StartThreadHamlib(Works* works)
{
    const HamlibSettings settings = readHamlibSettings();
    if (settings.port == 0 && settings.kpaPort == 0)
        return;
    logErr(">>>>>>>>>> HAMLIB SERVER start\n");
    startThread(thrHamlib, HamlibServer, works);
}
