#include "ui/screen_loop.h"

#include "amplifier/cpu_temp_reader.h"
#include "amplifier/errors.h"
#include "amplifier/filters.h"
#include "amplifier/link.h"
#include "amplifier/replies.h"
#include "amplifier/thermal.h"
#include "amplifier/thresholds.h"
#include "config/antenna_table.h"
#include "config/banks.h"
#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "remote/ws_frames.h"
#include "transceiver/serial_link.h"
#include "tuner/autotune.h"
#include "ui/dispatch.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "ui/meters.h"
#include "ui/spectrum_plot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

const int SaveScreen[5] = {5, 10, 20, 30, 60};
const char SaveScreenVal[5][8] = {"5min", "10min", "20min", "30min", "60min"};

namespace {

constexpr int64_t TEMP_LOG_PERIOD_MS = 5000;

// autoTuneMode bits.
constexpr int AT_ENABLED = 0x01;
constexpr int AT_STARTED_HERE = 0x02;
constexpr int AT_SETTLING = 0x08;
constexpr int AT_KEY_REQUEST = 0x10;
constexpr int AT_ASK_CARRIER = 0x20;
constexpr int AT_CARRIER_ASKED = 0x40;

void clearAutoTuneBits(Works* works, int bits)
{
    works->autoTuneMode &= ~bits;
}

// Counting after a run: once 10 frames have passed since the mark, the run is over.
bool settled(TimerLoopState& state)
{
    if (state.waitMark + 10 < state.waitCount)
        return true;
    if (state.waitMark == 0)
        state.waitMark = state.waitCount;
    ++state.waitCount;
    return false;
}

void resetCounters(TimerLoopState& state)
{
    state.waitCount = 0;
    state.waitMark = 0;
}

void superviseAutoTune(Works* works, bool tx, TimerLoopState& state)
{
    const int mode = works->autoTuneMode;
    if (!(mode & AT_ENABLED))
        return;
    if (tx && !(mode & (AT_STARTED_HERE | AT_KEY_REQUEST))) {
        if (works->tuneHold == 0 && works->tuneHoldFrames == 0) {
            StartAutotune(works);
            works->autoTuneMode |= AT_STARTED_HERE;
            resetCounters(state);
        } else if (works->tuneHoldFrames > 0) {
            --works->tuneHoldFrames;
        }
    } else if (tx && (mode & AT_SETTLING)) {
        if (settled(state))
            clearAutoTuneBits(works, AT_STARTED_HERE | AT_SETTLING | AT_KEY_REQUEST);
    } else if (!tx && (mode & AT_SETTLING)) {
        if (settled(state)) {
            clearAutoTuneBits(works, AT_STARTED_HERE | AT_SETTLING | AT_KEY_REQUEST);
            resetCounters(state);
        }
    } else if (mode & AT_KEY_REQUEST) {
        if (!tx && !(mode & AT_CARRIER_ASKED)) {
            if (cmdQueueEmpty(works)) {
                works->autoTuneMode |= AT_ASK_CARRIER;
                resetCounters(state);
            }
        } else if (!tx) {
            // The transceiver never started its tune carrier: the tune is abandoned.
            if (state.waitCount > 30) {
                EscAutoTune(works, 0);
                AddErrore(works, ERR_AUTOTUNE_ABORT);
                clearAutoTuneBits(works, AT_KEY_REQUEST | AT_CARRIER_ASKED);
            } else {
                ++state.waitCount;
            }
        } else if (!(mode & AT_CARRIER_ASKED)) {
            resetCounters(state);
        }
    }
}

// The error screen: the start picture (decoded once, when the screen opens or the model
// changes it), "Error! " and the failed port's text, and the retry/cancel bar.
void fatalErrorScreen(Works* works, const SerParam& parameters, TimerLoopState& state)
{
    const char* picture = works->ampModel == '1' ? "start120" : "start";
    if (state.errorPicture != picture) {
        setBackground(works, picture);
        state.errorPicture = picture;
    }
    startFrame(works);
    char text[128];
    snprintf(text, sizeof text, "Error! %s", fatalErrorMessage(works).c_str());
    drawFittedText(works->fb, 9, 8, 130, 10, 300, text, 255, 255, 255);
    works->pageIdx = BAR_RETRY;
    LoadButtons(works, parameters);
}

void dateLine(Works* works)
{
    char text[128];
    snprintf(text, sizeof text, "%s %s", lanConnectionName(works).c_str(), works->dateTimeStr);
    const int width = getStringSpace(6, text);
    putString(6, 780 - width, 17, text, 255, 255, 255, works->fb, 0);
}

void drawScreen(Works* works, const SerParam& parameters)
{
    ReadDataOra(works);
    if (works->viewTimeStr && works->statusView == 0)
        dateLine(works);
    if (works->reloadImg == 1) {
        setBackground(works, works->ampModel == '1' ? "img1b" : "img1");
        works->reloadImg = 0;
    }
    LoadButtons(works, parameters);
    if (works->statusView != 0)
        return;
    if (works->screenPage <= 3)
        DrawMeters(works);
    else if (works->screenPage <= 5)
        DrawGrid(works);
}

void sendStatus(Works* works)
{
    if (!works->wsConnected)
        return;
    // The peer reads the first 44 bytes: the 43 status characters and one '0' after them.
    constexpr size_t STATUS_FRAME_BYTES = 44;
    char buffer[64];
    CreaBufferDiStato(works, buffer, sizeof buffer);
    sendWebSockStatusFrame(works, buffer, std::min(STATUS_FRAME_BYTES, strnlen(buffer, sizeof buffer)));
}

} // namespace

bool screenSaverDue(int64_t nowMs, int64_t lastActivityMs, int saveScreenIdx)
{
    const int idx = std::clamp(saveScreenIdx, 0, 4);
    const int64_t minutes = (nowMs - lastActivityMs) / 60000;
    return minutes >= SaveScreen[idx];
}

void ReadDataOra(Works* works)
{
    static time_t lastSecond = 0;
    const time_t now = time(nullptr);
    if (now == lastSecond)
        return;
    lastSecond = now;
    struct tm local {};
    localtime_r(&now, &local);
    if (strftime(works->dateTimeStr, sizeof works->dateTimeStr, "%Y-%m-%d %H:%M:%S", &local) == 0)
        works->dateTimeStr[0] = '\0';
}

void followFrequency(Works* works, const SerParam& parameters)
{
    // A bank change asked for by the remote peer is made here, by the thread that reads the
    // antenna table, and applied in this same frame.
    if (works->bankChangeAsked.exchange(0))
        ChangeBanco(works);
    switch (works->interfaceMode) {
    case 1:
        if (!ampTransmitting(works))
            works->frequency = parameters.frequency;
        break;
    case 2:
        if (works->anState > 0) {
            works->anState = 0;
            IncPNTIn_CMDLinear(CMD_AN_STATE, works);
        }
        works->frequency = works->catSerFreq;
        break;
    case 0:
        works->frequency = works->freqMeasured;
        if (works->anState > 0) {
            works->anState = 0;
            IncPNTIn_CMDLinear(CMD_AN_STATE, works);
        }
        break;
    default:
        break;
    }
    // A frequency set by station software stands in for the source's this frame; in Generic
    // mode it stands until the counter measures a carrier.
    if (const uint32_t asked = works->frequencyAsked.exchange(0)) {
        if (works->interfaceMode == 0)
            works->freqMeasured = asked;
        works->frequency = asked;
    }
    if (works->frequency == works->lastFrequency && works->antennaRowIdx != -1)
        return;
    if (works->interfaceMode != 0)
        IncPNTIn_CMDLinear(CMD_FREQUENCY, works);
    SetFilterFromfreq(works);
    SearchCambioSoglie_TS(works);
    GestioneAntennaAutomatica(works);
    works->lastFrequency = works->frequency;
    works->fineTuneOk = 0;
}

void followTransceiver(Works* works, const SerParam& parameters, TimerLoopState& state)
{
    if (works->interfaceMode != 1)
        return;
    // The transceiver's transmit flag every frame: a search waiting for the transmission
    // must see it also when the amplifier already reports its carrier.
    works->txOn = parameters.txFlag == 1 ? 1 : 0;
    if (!ampTransmitting(works)) {
        if (parameters.anReq != works->anState && works->tuneStatus != 1 && works->txOn == 0 &&
            !(works->tuneHold & 0x30)) {
            works->anState = parameters.anReq;
            IncPNTIn_CMDLinear(CMD_AN_STATE, works);
        }
    }
    superviseAutoTune(works, parameters.txFlag == 1, state);
}

void timerFrame(Works* works, TimerLoopState& state)
{
    startFrame(works);
    SerParam parameters;
    const int fatal = works->fatalError;
    if (fatal < 1)
        state.errorPicture = nullptr;
    if (fatal >= 1) {
        fatalErrorScreen(works, parameters, state);
    } else if (fatal == -1) {
        // Leaving the error screen, unless the port failed again since the key asked for it:
        // that new error must stay on the screen.
        int32_t leaving = -1;
        if (works->fatalError.compare_exchange_strong(leaving, 0)) {
            works->pageIdx = BAR_MAIN;
            SetWorkImg(works);
        }
    } else {
        if (!works->screenSaverOn && screenSaverDue(monoMillis(), works->lastActivity, works->saveScreenIdx)) {
            works->screenSaverOn = 1;
            setBackground(works, "start");
            startFrame(works);
        }
        // The transceiver's record: its frequency in mode 1, and the status page's.
        if (works->interfaceMode == 1 || works->statusView == 1)
            getParameters(&parameters, works);
        followFrequency(works, parameters);
        followTransceiver(works, parameters, state);
        if (!works->screenSaverOn)
            drawScreen(works, parameters);
    }
    sendStatus(works);
}

void frameTimers(Works* works, int64_t elapsedMs)
{
    const int ms = static_cast<int>(std::clamp<int64_t>(elapsedMs, 0, 1000000));
    countDownErrorHold(works, ms);
    decayPeak(works->pkFwdHoldMs, works->pkFwdCnt, works->pkFwd, ms);
    decayPeak(works->pkAuxHoldMs, works->pkAuxCnt, works->pkAux, ms);
    if (works->enableLogTemp == 1 && works->logTempRemoved == 1) {
        works->logTempMs += ms;
        if (works->logTempMs >= TEMP_LOG_PERIOD_MS) {
            LogTempFunction(works, 0);
            works->logTempMs = 0;
        }
    }
}

void* timer(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    works->angFwdPk = 0;
    works->angAuxPk = 0;
    logSys(LOG_INFO, "Timer thread started");
    InitGrid();
    CpuTempReader cpuTemps(works);
    TimerLoopState state;
    while (works->running) {
        const int64_t start = monoMillis();
        timerFrame(works, state);
        fbRealize(works->fb);
        std::this_thread::sleep_for(std::chrono::microseconds(works->timerPeriodUs));
        frameTimers(works, monoMillis() - start);
    }
    logSys(LOG_INFO, "Timer operations end\n");
    return nullptr;
}
