// Keys of the tune bar, the manual-tune bar and the bar that saves a tune.
#include "ui/dispatch_bars.h"

#include "amplifier/link.h"
#include "config/banks.h"
#include "core/works.h"
#include "platform/log.h"
#include "tuner/autotune.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"
#include "tuner/tuner_files.h"
#include "ui/labels.h"
#include "ui/menu.h"

namespace bars {
namespace {

constexpr int TUNE_STEPS_MAX = 510;  // highest value a step up may start from

int tuneBack(Works* works, int)
{
    works->fineTuneOk = 0;
    clearMsgBits(works, 2);
    if (works->tuneStatus == 0)
        goBar(works, BAR_MAIN);
    return 0;
}

int tuneNotice(Works* works, int)
{
    clearMsgBits(works, 2);
    return 0;
}

int tuneStart(Works* works, bool fine)
{
    logErr("xxxxx AUTO TUNE_ByPass %x\n", works->atuBypass.load());
    if (works->atuBypass)
        return 0;
    clearMsgBits(works, 2);
    works->fineTuneOk = fine ? 1 : 0;
    GoTune(works);
    return 0;
}

int tuneFine(Works* works, int) { return tuneStart(works, true); }
int tuneComplete(Works* works, int) { return tuneStart(works, false); }

int tuneBypass(Works* works, int)
{
    works->fineTuneOk = 0;
    clearMsgBits(works, 2);
    logErr("xxxxx TUNE_ByPass %x\n", works->atuBypass.load());
    if (works->atuBypass) {
        works->atuBypass = 0;
        GestioneLoadTuneVal(works, 1);
    } else {
        works->atuBypass = 1;
        IncPNTIn_CMDLinear(CMD_TUNE_BYPASS, works);
    }
    saveLiveSettings(works);
    return 0;
}

int tuneManual(Works* works, int pressFlags)
{
    works->fineTuneOk = 0;
    clearMsgBits(works, 2);
    if (isLong(pressFlags)) {
        // Every setting of the board sent again.
        IncPNTIn_CMDLinear(CMD_PROTECTION_OFF, works);
        IncPNTIn_CMDLinear(CMD_CLEAR_PROTECTION, works);
        if (works->interfaceMode != 0)
            IncPNTIn_CMDLinear(CMD_FREQUENCY, works);
        IncPNTIn_CMDLinear(CMD_THRESHOLDS, works);
        IncPNTIn_CMDLinear(CMD_AMP_IN_LINE, works);
        IncPNTIn_CMDLinear(CMD_AN_STATE, works);
        IncPNTIn_CMDLinear(CMD_SET_ANTENNA, works);
        IncPNTIn_CMDLinear(CMD_ATTENUATOR, works);
        return 0;
    }
    works->manualTune = works->manualTune ? 0 : 1;
    IncPNTIn_CMDLinear(CMD_READ_TUNE, works);
    goBar(works, BAR_MANUAL_TUNE);
    ImpostaLblManuale(works);
    return 0;
}

// --- bar 4, manual tune ---

int manualModeOrSave(Works* works, int pressFlags)
{
    if (isLong(pressFlags)) {
        if (works->tuneStatus != 0)
            return 0;
        WaitSemaforoTuneval(works);
        const int mode = works->modoTune + 1 > 3 ? 1 : works->modoTune + 1;
        SetMode(works, mode);
        StopSemaforoTuneval(works);
        IncPNTIn_CMDLinear(CMD_TUNE_WORD, works);
        return 0;
    }
    works->tuneHold = static_cast<uint8_t>((works->tuneHold & 0xFC) | 1);
    works->saveBank = works->numBanco;
    works->saveAnt = works->antenna;
    goBar(works, BAR_SAVE);
    return 0;
}

// One step of inductance or capacitance within 0..511; held keys repeat.
int manualStep(Works* works, int pressFlags, bool inductance, int delta)
{
    const int value = inductance ? works->induttanza : works->capacita;
    const bool may = delta < 0 ? value > 0 : value <= TUNE_STEPS_MAX;
    if (may) {
        WaitSemaforoTuneval(works);
        if (inductance)
            SetI(works, value + delta);
        else
            SetC(works, value + delta);
        works->induttanza = DecodeInduttanzaFromTuneval(works->tuneval);
        works->capacita = DecodeCapacitaFromTuneval(works->tuneval);
        StopSemaforoTuneval(works);
        IncPNTIn_CMDLinear(CMD_TUNE_WORD, works);
    }
    return isLong(pressFlags) ? 1 : 0;
}

int manualLDown(Works* works, int f) { return manualStep(works, f, true, -1); }
int manualLUp(Works* works, int f) { return manualStep(works, f, true, +1); }
int manualCDown(Works* works, int f) { return manualStep(works, f, false, -1); }
int manualCUp(Works* works, int f) { return manualStep(works, f, false, +1); }

// The transceiver's carrier for manual tuning, on and off.
int manualTransmit(Works* works, int)
{
    if (works->tuneHold & 0x02) {
        works->tuneHold = static_cast<uint8_t>((works->tuneHold & 0xCC) | 1);
        setBarLabel(BAR_MANUAL_TUNE, 6, 0, "StartTX");
        return 0;
    }
    if (works->statoAmp[0] & 1) {
        works->anState = 0;
        IncPNTIn_CMDLinear(CMD_AN_STATE, works);
        works->tuneHold |= 0x10;
    }
    works->tuneHold |= 0x03;
    setBarLabel(BAR_MANUAL_TUNE, 6, 0, "StopTX");
    return 0;
}

int saveEsc(Works* works, int)
{
    goBar(works, BAR_MAIN);
    return 0;
}

int saveNextBank(Works* works, int)
{
    works->saveBank = nextWrapped(works->saveBank, works->maxBank - 1);
    return 0;
}

int saveNextAntenna(Works* works, int)
{
    works->saveAnt = nextWrapped(works->saveAnt, 2);
    return 0;
}

// A bypassed tuner has no tune to store: the notice says so and nothing is saved.
int saveTune(Works* works, int)
{
    if (DecodeModoFromTuneval(works->tuneval) == TUNE_MODE_BYPASS) {
        works->msgFlags |= 2;
    } else {
        LoadTabAtu(works, works->saveBank, works->saveAnt);
        InsertTuneToMem(works, works->saveBank, works->saveAnt);
        LoadAllBankTable(works, works->numBanco);
    }
    goBar(works, BAR_TUNE);
    return 0;
}

} // namespace

// Bar 3, tune.
const KeyCell tuneKeys[BAR_BUTTONS] = {
    {"back", tuneBack}, {"clear notice", tuneNotice}, {"fine tune", tuneFine}, {"tune", tuneComplete},
    {"tuner bypass", tuneBypass}, {"manual tune / resend", tuneManual}
};

// Bar 4, manual tune.
const KeyCell manualTuneKeys[BAR_BUTTONS] = {
    {"network mode / save", manualModeOrSave}, {"L down", manualLDown}, {"L up", manualLUp},
    {"C down", manualCDown}, {"C up", manualCUp}, {"transmit", manualTransmit}
};

// Bar 8, save tune.
const KeyCell saveKeys[BAR_BUTTONS] = {
    {"escape", saveEsc}, {"bank", saveNextBank}, {"antenna", saveNextAntenna}, NONE, NONE, {"save", saveTune}
};

} // namespace bars
