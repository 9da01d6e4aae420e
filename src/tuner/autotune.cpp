#include "tuner/autotune.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "amplifier/thermal.h"
#include "amplifier/thresholds.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tuner/search_climb.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

const int SWRTimeoutCICLI[TUNE_CYCLE_LIMITS] = {600, 400, 300, 200, 100};
const char* const SWRTimeout[TUNE_CYCLE_LIMITS] = {"25sec", "20sec", "15sec", "10sec", "5sec"};

TuneParam tuneParam;
TuneParam miglioretuneParam;
TuneParam vTuneParam[TUNE_HISTORY];
int cnttune = 0;
int cnttunefine = 0;

namespace {

constexpr int VALUE_TOP = 510;      // highest value a search step may reach
constexpr int VALUE_MAX = 511;
constexpr float STORE_LIMIT_SWR = 6.0f;
constexpr float PRESET_GOOD_SWR = 1.05f;
constexpr int PRESETS = 5;
constexpr int SWEEP_STEPS = 20;

// Where the best record was measured: the tune-memory slot and antenna it counts for. The
// measured frequency moves by a few hertz between polls, so a best counts for its slot,
// not for the exact hertz. A fine search keeps the record of the search before it and must
// not take over a record that was never measured (start-up, a cleared record, a reading
// without RF) or that belongs to another slot or antenna.
struct BestOrigin {
    bool measured = false;
    int slot = -1;
    int antenna = 0;
};
BestOrigin bestOrigin;

int slotOf(const Works* works)
{
    return AtuIdxSearch(works->frequency, nullptr, nullptr, nullptr, nullptr);
}

bool bestMeasuredHere(const Works* works)
{
    return bestOrigin.measured && bestOrigin.slot == slotOf(works) && bestOrigin.antenna == works->antenna;
}

// The tuning presets of the band row of the current frequency; `count` presets are used
// (preset 0 always, then up to the first absent one).
struct Presets {
    int l[PRESETS] = {};
    int c[PRESETS] = {};
    int count = 1;
    int step = 8;
};

Presets presetsFor(Works* works)
{
    Presets p;
    p.step = StepTune1 > 0 ? StepTune1 : 8;
    const int row = bandRowFor(works, works->frequency);
    if (row < 0 || row >= static_cast<int>(works->configRows.size()))
        return p;
    const ConfigRow& r = works->configRows[static_cast<size_t>(row)];
    for (int k = 0; k < PRESETS; ++k) {
        p.l[k] = r.presetL[k] < 0 ? 0 : r.presetL[k] > VALUE_MAX ? VALUE_MAX : r.presetL[k];
        p.c[k] = r.presetC[k] < 0 ? 0 : r.presetC[k] > VALUE_MAX ? VALUE_MAX : r.presetC[k];
    }
    p.count = 1;
    while (p.count < PRESETS && r.presetL[p.count] < 512 && r.presetC[p.count] < 512 && r.presetL[p.count] >= 0 &&
           r.presetC[p.count] >= 0)
        ++p.count;
    if (r.step > 0)
        p.step = r.step;
    return p;
}

void applyC(Works* works)
{
    SetC(works, works->capacita);
}

void applyL(Works* works)
{
    SetI(works, works->induttanza);
}

// Rewrites the mode bits only ("CL" side B, " LC" side A).
void setSide(Works* works, int mode)
{
    works->tuneval = tunewordWithMode(works->tuneval, mode);
}

void applyPreset(Works* works, const Presets& p, int k)
{
    works->induttanza = p.l[k];
    works->capacita = p.c[k];
    applyL(works);
    applyC(works);
}

void backOff(Relaxed<int32_t>& value)
{
    if (value >= 2)
        value -= 1;
}

// The newest measurement exceeds the one before it by more than `margin`.
bool worse(float margin)
{
    return vTuneParam[0].swr - vTuneParam[1].swr > margin;
}

const char* sideText(uint32_t word)
{
    return (word & TUNE_BIT_SIDE_B) ? " B " : " A ";
}

// A best record counts as measured only from a reading with RF (an SWR of 0 is no reading).
void markBestMeasured(Works* works)
{
    bestOrigin = {miglioretuneParam.swr > 0.01f, slotOf(works), works->antenna};
}

// Steps 1 and 2 of a measurement and the count: the reading of the last status reply is
// the measurement of the setting the previous step sent.
void takeMeasurement(Works* works)
{
    const bool ampError = (works->statoAmp[1] & 0x02) != 0;
    if (ampError) {
        works->swr = 100;
        works->tuneStatus = 2;
    }
    tuneParam = {works->swr, works->pwrFwd, works->induttanza, works->capacita, works->tuneval};
    logErr("%d-%d) Err %sSWR %05.2f FWD %05.2f L %04d C %04d T %08x %s", cnttune, works->tuneStep.load(),
           ampError ? "1 " : "0 ", static_cast<double>(tuneParam.swr), static_cast<double>(tuneParam.pwrFwd),
           tuneParam.induttanza, tuneParam.capacita, tuneParam.tuneval, sideText(tuneParam.tuneval));
    cnttune += 1;
}

// A "measure" of the tables; true when the measurement ended the tune.
bool measure(Works* works)
{
    return TuneStep(works) == 1;
}

// The index (among `count` used presets) with the lowest recording from `base` on;
// searched from 100 with a strict comparison, so the first of equal values wins.
int lowestRecording(const Works* works, int base, int count)
{
    float lowest = 100;
    int chosen = 0;
    for (int i = 0; i < count; ++i) {
        const int at = base + i;
        if (at < REC_SWR_SIZE && works->recSwr[at] < lowest) {
            lowest = works->recSwr[at];
            chosen = i;
        }
    }
    return chosen;
}

// State 456: the first half of the recordings belongs to side B, the second to side A,
// in preset order. Recordings that stand where an absent preset would be (they repeat the
// last used preset) take no part, so the choice always falls on a preset in use.
void chooseSideAndPreset(Works* works, const Presets& p)
{
    const int n = std::min<int>(works->recCount, REC_SWR_SIZE);
    const int h = n / 2;
    const int used = h < p.count ? h : p.count;
    int winsA = 0;
    int winsB = 0;
    for (int i = 0; i < used; ++i) {
        if (works->recSwr[h + i] <= works->recSwr[i])
            ++winsA;
        else
            ++winsB;
    }
    const bool sideB = winsB > winsA;
    const int base = sideB ? 0 : h;
    const int k = lowestRecording(works, base, used);
    setSide(works, sideB ? TUNE_MODE_CL : TUNE_MODE_LC);
    applyPreset(works, p, k);
    logErr("%s", sideB ? " B " : " A ");
    // The best record carries the chosen preset's own measurement.
    const float swr = used > 0 ? works->recSwr[base + k] : works->swr.load();
    miglioretuneParam = {swr, works->pwrFwd, works->induttanza, works->capacita, works->tuneval};
    markBestMeasured(works);
    works->recMode = 0;
    works->recCount = 0;
    works->passCount = 0;
}

// States 453 and 455: measure the preset just applied and apply the next one.
void presetRun(Works* works, const Presets& p, int next)
{
    if (measure(works))
        return;
    const int k = cnttune;
    if (k < PRESETS && k < p.count) {
        applyPreset(works, p, k);
        if (k > 3)
            works->tuneStep = next;
    } else {
        works->tuneStep = next;
    }
}

// States 3, 5, 8, 10: walk a value up by `step` while the SWR does not get worse.
void climb(Works* works, Relaxed<int32_t>& value, int step, float margin, int next, const char* upText,
           const char* worseText)
{
    if (measure(works))
        return;
    if (!worse(margin)) {
        logErr(upText, step);
        if (value + step <= VALUE_TOP) {
            value += step;
        } else {
            works->tuneStep = next;
            cnttunefine = 0;
            backOff(value);
        }
    } else {
        logErr("%s", worseText);
        works->tuneStep = next;
        cnttunefine = 0;
        backOff(value);
    }
    applyL(works);
    applyC(works);
}

// States 202 to 205: one fine step of `value` in `direction`; true when the run is over.
bool fineStep(Works* works, Relaxed<int32_t>& value, Relaxed<int32_t>& stepCount, int direction)
{
    TuneStepComplete(works);
    const int next = value + direction;
    if (next >= 0 && next <= VALUE_MAX) {
        value = next;
        applyL(works);
        applyC(works);
    } else {
        stepCount = 0;
    }
    stepCount -= 1;
    return stepCount < 0;
}

void completeSearch(Works* works)
{
    switch (works->tuneStep) {
    case 0:
        works->tuneStep = 1;
        break;
    case 1:
        Clr_vTuneParam(works);
        setSide(works, TUNE_MODE_CL);
        works->capacita = works->induttanza = 0;
        applyL(works);
        applyC(works);
        cnttune = 0;
        works->tuneStep = 2;
        break;
    case 2:
        if (works->txOn == 1) {
            sleepMs(3);
            works->tuneStep = 3;
        }
        break;
    case 3:
        climb(works, works->induttanza, 4, 0.1f, 4, "inc induttanza  %d\n ", "stato++\n ");
        break;
    case 4:
        if (measure(works))
            return;
        if (!worse(0.1f) && works->induttanza >= 1 && cnttunefine <= 7) {
            cnttunefine += 1;
            works->induttanza -= 1;
        } else {
            works->tuneStep = 5;
            cnttunefine = 0;
            works->capacita += 8;
        }
        applyL(works);
        applyC(works);
        break;
    case 5:
        climb(works, works->capacita, 8, 0.1f, 6, "inc capacita B(dx) %d \n ", "stato c ++\n ");
        break;
    case 6:
        if (measure(works))
            return;
        if (!worse(0.1f) && works->capacita >= 1 && cnttunefine <= 15) {
            cnttunefine += 1;
            works->capacita -= 1;
        } else {
            works->tuneStep = 7;
            cnttunefine = 0;
            setSide(works, TUNE_MODE_LC);
            works->capacita = 0;
        }
        applyC(works);
        break;
    case 7:
        if (measure(works))
            return;
        if (works->capacita + 8 <= VALUE_TOP) {
            works->capacita += 8;
            applyC(works);
        }
        works->tuneStep = 8;
        break;
    case 8:
        climb(works, works->capacita, 8, 0.1f, 9, "inc capacita A(sx) %d \n ", "stato c ++\n ");
        break;
    case 9:
        if (measure(works))
            return;
        if (!worse(0.1f) && works->capacita >= 1 && cnttunefine <= 15) {
            cnttunefine += 1;
            works->capacita -= 1;
            applyC(works);
        } else {
            const bool atLimit = !worse(0.1f);
            works->tuneStep = 10;
            cnttunefine = 0;
            TuneEnd(works);
            if (atLimit && works->induttanza + 2 <= VALUE_TOP) {
                works->induttanza += 2;
                applyL(works);
            }
        }
        break;
    case 10:
        climb(works, works->induttanza, 2, 0.1f, 11, "inc induttanza  %d\n ", "stato++\n ");
        break;
    case 11:
        if (measure(works))
            return;
        if (!worse(0.1f) && works->induttanza >= 1 && cnttunefine <= 5) {
            cnttunefine += 1;
            works->induttanza -= 1;
            applyL(works);
        } else {
            works->tuneStep = 12;
            TuneEnd(works);
        }
        break;
    case 12:
        if (!measure(works))
            endAutotune(works, 1);
        break;
    default:
        break;
    }
}

void fineSearch(Works* works)
{
    switch (works->tuneStep) {
    case 200:
        works->tuneStep = 201;
        Clr_vTuneParam_fast(works);
        works->stepCountC = works->stepCountL = 20;
        applyL(works);
        applyC(works);
        break;
    case 201:
        works->tuneStep = 202;
        sleepMs(10);
        cnttune = 0;
        break;
    case 202:
        if (fineStep(works, works->capacita, works->stepCountC, +1)) {
            works->stepCountC = 20;
            TuneEnd(works);
            applyC(works);
            works->tuneStep = 203;
        }
        break;
    case 203:
        if (fineStep(works, works->capacita, works->stepCountC, -1)) {
            TuneEnd(works);
            applyC(works);
            works->stepCountC = works->stepCountL = 20;
            works->tuneStep = 204;
        }
        break;
    case 204:
        if (fineStep(works, works->induttanza, works->stepCountL, +1)) {
            works->stepCountL = 20;
            TuneEnd(works);
            applyL(works);
            works->tuneStep = 205;
        }
        break;
    case 205:
        if (fineStep(works, works->induttanza, works->stepCountL, -1)) {
            works->tuneStep = 206;
            TuneEnd(works);
            applyL(works);
            applyC(works);
        }
        break;
    case 206:
        if (!measure(works))
            endAutotune(works, 1);
        break;
    default:
        break;
    }
}

void endOfPass(Works* works)
{
    works->passCount += 1;
    works->tuneStep = miglioretuneParam.swr > PRESET_GOOD_SWR && works->passCount < 3 ? 457 : 461;
}

void presetSearch(Works* works)
{
    const Presets p = presetsFor(works);
    const int s = p.step;
    switch (works->tuneStep) {
    case 450:
        if (works->txOn == 1) {
            works->tuneStep = 451;
            Clr_vTuneParam(works);
            setSide(works, TUNE_MODE_CL);
            applyPreset(works, p, 0);
        }
        break;
    case 451:
        sleepMs(5);
        works->tuneStep = 452;
        break;
    case 452:
        setSide(works, TUNE_MODE_CL);
        applyPreset(works, p, 0);
        works->tuneStep = 453;
        cnttune = 0;
        works->recCount = 0;
        works->recMode = 1;
        break;
    case 453:
        presetRun(works, p, 454);
        break;
    case 454:
        if (measure(works))
            return;
        setSide(works, TUNE_MODE_LC);
        applyPreset(works, p, 0);
        works->tuneStep = 455;
        cnttune = 0;
        break;
    case 455:
        presetRun(works, p, 456);
        break;
    case 456:
        if (measure(works))
            return;
        chooseSideAndPreset(works, p);
        works->tuneStep = 457;
        break;
    case 457:
        if (measure(works))
            return;
        if (!worse(0)) {
            if (works->induttanza + s <= VALUE_TOP)
                works->induttanza += s;
            else
                works->tuneStep = 458;
        } else {
            works->tuneStep = 458;
            if (works->induttanza - s >= 0)
                works->induttanza -= s;
        }
        applyL(works);
        break;
    case 458:
        if (measure(works))
            return;
        if (!worse(0)) {
            if (works->induttanza - s >= 0)
                works->induttanza -= s;
            else
                works->tuneStep = 459;
        } else {
            works->tuneStep = 459;
            works->induttanza = works->induttanza + s > VALUE_MAX ? VALUE_MAX : works->induttanza + s;
        }
        applyL(works);
        break;
    case 459:
        if (measure(works))
            return;
        if (!worse(0) && works->capacita - s >= 0) {
            works->capacita -= s;
        } else {
            works->tuneStep = 460;
            works->capacita = works->capacita + s > VALUE_MAX ? VALUE_MAX : works->capacita + s;
        }
        applyC(works);
        break;
    case 460:
        if (measure(works))
            return;
        if (!worse(0)) {
            if (works->capacita + s <= VALUE_TOP) {
                works->capacita += s;
                applyC(works);
            } else {
                endOfPass(works);
            }
        } else {
            if (works->capacita - s >= 0) {
                works->capacita -= s;
                applyC(works);
            }
            endOfPass(works);
        }
        break;
    case 461:
        if (measure(works))
            return;
        if (miglioretuneParam.swr > PRESET_GOOD_SWR && works->induttanza + SWEEP_STEPS * s <= VALUE_TOP) {
            works->induttanza += SWEEP_STEPS * s;
            applyL(works);
            works->recCount = 0;
            works->passCount = 0;
            works->tuneStep = 462;
        } else {
            works->tuneStep = 463;
        }
        break;
    case 462:
        if (measure(works))
            return;
        if (works->recCount < SWEEP_STEPS && works->induttanza - s >= 0) {
            works->induttanza -= s;
            applyL(works);
        } else {
            works->tuneStep = 463;
        }
        break;
    case 463:
        if (measure(works))
            return;
        TuneEnd(works);
        works->recMode = 0;
        endAutotune(works, 1);
        break;
    default:
        break;
    }
}

enum TuneRequest : int8_t { TUNE_REQUEST_START = 1, TUNE_REQUEST_END = 2, TUNE_REQUEST_END_SAVE = 3 };

// The start of a run, on the link thread: the burst that prepares the board, then the
// state machine from the first state of the search.
void beginSearch(Works* works)
{
    if (works->atuBypass)
        return;
    const char tipo = works->setup ? works->setup->AutoTuneTipo : '0';
    // The climbing search starts from the present setting anyway: it needs no fine search.
    if (works->fineTuneOk == 1 && tipo != TUNE_TIPO_CLIMB) {
        logErr("TUNE FINE------------!!!!!!!!!!!!!!!!!!!!!!!!!!\n ");
        works->tuneStep = TUNE_START_FINE;
    } else {
        logErr("TUNE COMPLETE------------ TIPO: %c !!!!!!!!!!!!!!!!!!!!!!!!!!\n ", tipo);
        works->tuneStep = tipo == '0'               ? TUNE_START_COMPLETE
                          : tipo == TUNE_TIPO_CLIMB ? TUNE_START_CLIMB
                                                    : TUNE_START_PRESET;
    }
    IncPNTIn_CMDLinear(CMD_PROTECTION_ON, works);
    IncPNTIn_CMDLinear(CMD_ATTENUATOR_TUNE, works);
    works->tsPar[0] = 4095;
    IncPNTIn_CMDLinear(CMD_THRESHOLDS, works);
    works->atuBypass = 0;
    IncPNTIn_CMDLinear(CMD_CLEAR_PROTECTION, works);
    IncPNTIn_CMDLinear(CMD_PROTECTION_OFF, works);
    works->cmdBurst = 1;
    works->tuneStatus = 1;
    if (works->statoAmp[0] & 0x01) {
        works->anState = 0;
        IncPNTIn_CMDLinear(CMD_AN_STATE, works);
    }
    logErr("--------- START AUTO TUNE (%x) %i\n", works->autoTuneMode.load(), works->tuneStep.load());
}

// Queues a start or an end for the link thread. A full queue keeps what it holds: the
// request is refused with a log line.
void requestTune(Works* works, TuneRequest request)
{
    std::lock_guard<std::mutex> lock(works->tuneLock);
    if (works->tuneRequestCount >= TUNE_REQUESTS) {
        logErr("tune request %d refused, %d already waiting\n", static_cast<int>(request), TUNE_REQUESTS);
        return;
    }
    works->tuneRequests[works->tuneRequestCount++] = request;
}

// Whether a tune runs once the waiting requests are carried out.
bool tuneComing(Works* works)
{
    std::lock_guard<std::mutex> lock(works->tuneLock);
    if (works->tuneRequestCount > 0)
        return works->tuneRequests[works->tuneRequestCount - 1] == TUNE_REQUEST_START;
    return works->tuneStatus != 0;
}

} // namespace

void endAutotune(Works* works, int save)
{
    // A best above 6.0 is never stored; neither is one that was not measured on this slot
    // and antenna (that is no "Max SWR": the log line says why).
    if (miglioretuneParam.swr > STORE_LIMIT_SWR) {
        AddErrore(works, ERR_TUNE_MAX_SWR);
        logErr("------- ERRORE MAX TUNE (%f)\n", static_cast<double>(works->swr));
    } else if (!bestMeasuredHere(works)) {
        if (save == 1)
            logErr("------- TUNE NOT STORED: best (SWR %05.2f) not measured on slot %d antenna %d\n",
                   static_cast<double>(miglioretuneParam.swr), slotOf(works), works->antenna.load());
    } else if (save == 1) {
        InsertTuneToMem(works, works->numBanco, works->antenna);
        works->fineTuneOk = 1;
    }
    IncPNTIn_CMDLinear(CMD_ATTENUATOR, works);
    cnttune = 0;
    if (works->autoTuneMode & 0x01)
        works->autoTuneMode |= 0x04;
    works->thresholdRow = -1;
    works->tuneStatus = 0;
}

void GoTune(Works* works)
{
    if (works->tuneEnabled & 0x80)
        return;
    if (tuneComing(works)) {
        logErr("esc tune TUNEMENU\n");
        EscAutoTune(works, 0);
        return;
    }
    logErr("c-START TUNE (%x)!!\n", works->autoTuneMode.load());
    if ((works->autoTuneMode & 0x01) && !(works->autoTuneMode & 0x08)) {
        StartAutotune(works);
        logErr("b-START TUNE requested!!\n");
        if (works->interfaceMode == 1) {
            works->autoTuneMode &= ~0x40;
            works->autoTuneMode |= 0x10;
            logErr("a-START TUNE!!\n");
        }
    }
}

void StartAutotune(Works* works)
{
    requestTune(works, TUNE_REQUEST_START);
}

void ServeTuneRequests(Works* works)
{
    std::lock_guard<std::mutex> lock(works->tuneLock);
    for (int32_t i = 0; i < works->tuneRequestCount; ++i) {
        if (works->tuneRequests[i] == TUNE_REQUEST_START)
            beginSearch(works);
        else
            endAutotune(works, works->tuneRequests[i] == TUNE_REQUEST_END_SAVE ? 1 : 0);
    }
    works->tuneRequestCount = 0;
}

void TuneTask(Works* works)
{
    if (works->cmdBurst)
        return;
    const int selector = std::clamp<int>(works->autoTuneMaxCicli, 0, TUNE_CYCLE_LIMITS - 1);
    if (cnttune > SWRTimeoutCICLI[selector]) {
        logErr("%d max cicli-> esco\n", cnttune);
        TuneEnd(works);
        endAutotune(works, 0);
        AddErrore(works, works->swrEscAutoTune == 0 ? ERR_TUNE_TIMEOUT : ERR_TUNE_SWR_WARNING);
        AttivaDisattivaProtezione(works, 1);
        return;
    }
    if (works->tuneStep >= TUNE_START_CLIMB)
        climbSearch(works);
    else if (works->tuneStep >= TUNE_START_PRESET)
        presetSearch(works);
    else if (works->tuneStep >= TUNE_START_FINE)
        fineSearch(works);
    else
        completeSearch(works);
}

int TuneStep(Works* works)
{
    takeMeasurement(works);
    CtrlNuovoTune(works);
    logErr(" SWResc  %05.2f ", static_cast<double>(works->swrEscAutoTune));
    logErr("SWR[1] %05.2f SWR[0] %05.2f\n", static_cast<double>(vTuneParam[1].swr),
           static_cast<double>(vTuneParam[0].swr));
    if (works->recMode > 0 && works->recCount >= 0 && works->recCount < REC_SWR_SIZE)
        works->recSwr[works->recCount] = works->swr;
    works->recCount += 1;
    const float measured = tuneParam.swr;
    if (measured > 0.01f && measured < works->swrEscAutoTune) {
        logErr("ESC AUTO TUNE TARGET FOUND! %05.2f ( %01.4f) FOUND!\n", static_cast<double>(measured),
               static_cast<double>(works->swrEscAutoTune));
        TuneEnd(works);
        endAutotune(works, 1);
        return 1;
    }
    return 0;
}

void TuneStepComplete(Works* works)
{
    takeMeasurement(works);
    if (tuneParam.swr > 0 && tuneParam.swr < miglioretuneParam.swr) {
        miglioretuneParam = tuneParam;
        markBestMeasured(works);
        logErr("MIGLIORE:SWR %05.2f L %04d C %04d\n", static_cast<double>(tuneParam.swr), tuneParam.induttanza,
               tuneParam.capacita);
    }
}

void CtrlNuovoTune(Works* works)
{
    if (tuneParam.swr < miglioretuneParam.swr) {
        miglioretuneParam = tuneParam;
        markBestMeasured(works);
    }
    for (int i = TUNE_HISTORY - 1; i > 0; --i)
        vTuneParam[i] = vTuneParam[i - 1];
    vTuneParam[0] = tuneParam;
}

void TuneEnd(Works* works)
{
    tuneParam = miglioretuneParam;
    works->swr = tuneParam.swr;
    works->pwrFwd = tuneParam.pwrFwd;
    works->induttanza = tuneParam.induttanza;
    works->capacita = tuneParam.capacita;
    works->tuneval = tuneParam.tuneval;
    logErr("miglioretuneParam %d-%d) SWR %05.2f FRW %05.2f L%4d C%4d T %08x %s (==>SWR %05.2f) TuneEnd\n", cnttune,
           works->tuneStep.load(), static_cast<double>(tuneParam.swr), static_cast<double>(tuneParam.pwrFwd),
           tuneParam.induttanza, tuneParam.capacita, tuneParam.tuneval, sideText(tuneParam.tuneval),
           static_cast<double>(tuneParam.swr));
}

void EscAutoTune(Works* works, int save)
{
    requestTune(works, save == 1 ? TUNE_REQUEST_END_SAVE : TUNE_REQUEST_END);
}

void Clr_vTuneParam(Works* works)
{
    (void)works;
    logErr("TUNE CLEAR\n");
    const TuneParam cleared{999.0f, 0, 0, 0, 0};
    tuneParam = cleared;
    miglioretuneParam = cleared;
    for (TuneParam& p : vTuneParam)
        p = cleared;
    bestOrigin = {};
}

void Clr_vTuneParam_fast(Works* works)
{
    logErr("TUNE CLEAR\n");
    tuneParam = {works->swr, works->pwrFwd, works->induttanza, works->capacita, works->tuneval};
    // Without a best record measured here, the present setting is the best so far, with
    // the reading of the last status reply as its measurement when there was RF (else 999,
    // which any real measurement replaces).
    if (!bestMeasuredHere(works)) {
        miglioretuneParam = tuneParam;
        if (works->swr <= 0.01f)
            miglioretuneParam.swr = 999.0f;
        markBestMeasured(works);
    }
}
