#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>

Relaxed<double> TIME_LONG_PRESS = 0.5;
Relaxed<int> number_ofStep_meter_FWD = 60;
Relaxed<int> number_ofStep_meter_REFL = 60;
Relaxed<int> number_ofStep_meter_SWR = 60;
Relaxed<int> number_ofStep_meter_PW = 60;
Relaxed<int> fattoremedia = 2;
Relaxed<double> PeakDecrement = 1.0;
Relaxed<int> PeakDecrementTime = 1;
Relaxed<int> TimerPeakSec = 3000;
int StepTune1 = 0;

Works* InitGlobalVar(Works* works)
{
    works->running = 1;
    works->reloadImg = 1;
    works->ampBypass = 1;
    works->atuBypass = 0;
    works->tuState = 0;
    works->fatalError = 0;
    works->wsSock = -1;
    works->timerPeriodUs = 60000;
    works->screenPage = 1;
    works->frequency = 14070000;
    works->lastFrequency = 14070000;
    works->spanHz = 160000;
    works->antenna = 0;
    works->anState = 0;
    works->tuneval = 0;
    works->cmdBurst = 0;
    works->freqPeriodTime = 10;
    works->viewTimeStr = 0;
    works->viewTemp = 0;
    works->tsPar[0] = 4095;
    works->tsPar[1] = 4095;
    works->tsPar[2] = 1500;
    works->tsPar[3] = 3700;
    works->maxTemperature = 60.0f;
    works->maxTemperature2 = 80.0f;
    works->maxTempAllowed = 60;
    works->psPar[0] = 1;
    works->psPar[1] = 1000;
    works->gmPar1 = 2;
    works->gmPar2 = 100;
    works->isteresi1 = 1;
    works->isteresi2 = 1;
    works->thresholdRow = -1;
    works->cpFlag = 1;
    works->interfaceMode = -1;
    works->tabCol = -1;
    works->numBanco = 1;
    works->maxBank = 20;
    works->antennaRowIdx = -1;
    works->errResend = 0;
    works->retryTotal = 0;
    works->retryErrHold = 0;
    works->ampEE2a = 255;
    works->ampModel = 255;
    works->tinyCmdActive = 176;
    works->enableDebug = 0;
    works->enableLogTemp = 0;
    works->logTempRemoved = 0;
    works->audioFrameSamples = 240;
    works->audioFormat = 2;
    works->audioRate = 48000;
    works->tcpPort = 6666;
    works->audioBuffers = 20;
    works->fanPercentOld = -1;
    works->fanPercentCPU = 0;
    works->fanPercentCPUOld = 0;
    works->cpuPercVentola = 70;
    works->cpuTempVentola = 80;
    if (works->setup)
        setSetupSwitch(works->setup, &Orvosetup::AutoTuneTipo, '0');

    TIME_LONG_PRESS = 0.5;
    number_ofStep_meter_FWD = 60;
    number_ofStep_meter_REFL = 60;
    number_ofStep_meter_SWR = 60;
    number_ofStep_meter_PW = 60;
    fattoremedia = 2;
    PeakDecrement = 1.0;
    PeakDecrementTime = 1;
    TimerPeakSec = 3000;
    return works;
}

void setFatalError(Works* works, int32_t code, const char* text)
{
    {
        std::lock_guard<std::mutex> lock(works->fatalErrorMutex);
        snprintf(works->fatalErrorText, sizeof works->fatalErrorText, "%s", text);
    }
    works->fatalError = code;
}

std::string fatalErrorMessage(Works* works)
{
    std::lock_guard<std::mutex> lock(works->fatalErrorMutex);
    return std::string(works->fatalErrorText, strnlen(works->fatalErrorText, sizeof works->fatalErrorText));
}

std::string lanConnectionName(Works* works)
{
    std::lock_guard<std::mutex> lock(works->lanConnectionMutex);
    return std::string(works->lanConnection, strnlen(works->lanConnection, sizeof works->lanConnection));
}

std::string remotePasswordText(Works* works)
{
    std::lock_guard<std::mutex> lock(works->remotePasswordMutex);
    return std::string(works->remotePassword, strnlen(works->remotePassword, sizeof works->remotePassword));
}

AmpIdentity ampIdentity(Works* works)
{
    AmpIdentity id;
    std::lock_guard<std::mutex> lock(works->identityMutex);
    memcpy(id.ee0, works->ampEE0, sizeof id.ee0);
    memcpy(id.ee1, works->ampEE1, sizeof id.ee1);
    memcpy(id.microVersion, works->microVersion, sizeof id.microVersion);
    id.microVersion[sizeof id.microVersion - 1] = '\0';
    return id;
}

namespace {

// Codes the mailbox's reader (the button thread) posted itself, oldest first. The reader
// takes them between two exchanges; it cannot wait for the mailbox, only it empties it.
constexpr size_t OWN_TINY_CODES = 16;
thread_local bool tinyReader = false;
thread_local std::deque<uint8_t> ownTinyCodes;

} // namespace

void becomeTinyReader()
{
    tinyReader = true;
}

uint8_t takeTinyCmd(Works* works)
{
    if (const uint8_t posted = works->tinyCmd.exchange(0))
        return posted;
    if (!tinyReader || ownTinyCodes.empty())
        return 0;
    const uint8_t own = ownTinyCodes.front();
    ownTinyCodes.pop_front();
    return own;
}

void postTinyCmd(Works* works, uint8_t code)
{
    if (tinyReader) {
        if (ownTinyCodes.size() >= OWN_TINY_CODES) {
            logErr("tinyCmd queue full, code %d not posted\n", code);
            return;
        }
        ownTinyCodes.push_back(code);
        return;
    }
    // The button thread empties the mailbox every few milliseconds. Without a button thread
    // nobody ever empties it, so a writer gives up after a second instead of hanging.
    const int64_t deadline = monoMillis() + 1000;
    uint8_t empty = 0;
    while (!works->tinyCmd.compare_exchange_weak(empty, code)) {
        empty = 0;
        if (monoMillis() > deadline) {
            logErr("tinyCmd busy, code %d not posted\n", code);
            return;
        }
        std::this_thread::yield();
    }
}
