// The key table: for every button bar and key, the named action it runs.
#include "ui/dispatch.h"

#include "amplifier/errors.h"
#include "amplifier/filters.h"
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "config/banks.h"
#include "config/factory_reset.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tuner/autotune.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"
#include "tuner/tuner_files.h"
#include "ui/labels.h"
#include "ui/layout.h"
#include "ui/menu.h"

#include <cstdio>

namespace {

constexpr int ERR_CMD_NOT_AVAILABLE = 17;
constexpr int TUNE_STEPS_MAX = 510;  // highest value a step up may start from

using KeyAction = int (*)(Works* works, int pressFlags);

struct KeyCell {
    const char* name;
    KeyAction action;  // nullptr: the key does nothing on this bar
};

bool isLong(int pressFlags)
{
    return pressFlags != 0;
}

bool ampTransmitting(const Works* works)
{
    return works->statoAmp[1] & 1;
}

void goBar(Works* works, int bar)
{
    works->pageIdx = bar;
}

void clearMsgBits(Works* works, uint32_t bits)
{
    works->msgFlags &= ~bits;
}

void saveLiveSettings(Works* works)
{
    SaveToBank(works, works->numBanco, works->antenna);
}

// Steps a counter by one, back to 0 once it passes `last`.
int nextWrapped(int value, int last)
{
    return value + 1 > last ? 0 : value + 1;
}

// --- bar 0, main ---

void openTablePage(Works* works)
{
    works->statusView |= 2;
    setBackground(works, "statusB");
    goBar(works, BAR_INTERFACE);
    LblMenuAntenna(works);
}

void closeTablePage(Works* works)
{
    works->statusView &= static_cast<uint8_t>(~2u);
    SetWorkImg(works);
}

int mainBank(Works* works, int pressFlags)
{
    if (EscFromStatus(works))
        return 0;
    const bool tableOpen = works->statusView & 2;
    if (tableOpen)
        closeTablePage(works);
    else if (isLong(pressFlags))
        openTablePage(works);
    else
        ChangeBanco(works);
    return 0;
}

// Attenuator steps 0, 2, 3, 5 dB and stand-by; stand-by is not offered while transmitting,
// and the attenuator cannot be changed while transmitting in stand-by.
int mainAttenuator(Works* works, int pressFlags)
{
    if (isLong(pressFlags) || EscFromStatus(works))
        return 0;
    int sel = works->attenuatorSel + 1;
    if (ampTransmitting(works)) {
        if (works->ampBypass == 1) {
            AddErrore(works, ERR_CMD_NOT_AVAILABLE);
            return 0;
        }
        if (sel > 3)
            sel = 0;
    } else if (sel > 4) {
        sel = 0;
    }
    works->attenuatorSel = sel;
    if (sel <= 3) {
        works->attenuator = sel;
        IncPNTIn_CMDLinear(CMD_ATTENUATOR, works);
        if (works->ampBypass == 1)
            IncPNTIn_CMDLinear(CMD_AMP_IN_LINE, works);
    } else if (sel == 4 && works->ampBypass == 0) {
        IncPNTIn_CMDLinear(CMD_AMP_BYPASS, works);
    }
    saveLiveSettings(works);
    return 0;
}

int mainAntenna(Works* works, int)
{
    if (EscFromStatus(works))
        return 0;
    works->antenna = nextWrapped(works->antenna, 2);
    IncPNTIn_CMDLinear(CMD_SET_ANTENNA, works);
    saveLiveSettings(works);
    return 0;
}

int mainTune(Works* works, int)
{
    if (!EscFromStatus(works))
        goBar(works, BAR_TUNE);
    return 0;
}

int mainSettings(Works* works, int)
{
    if (!EscFromStatus(works))
        goBar(works, BAR_MENU);
    return 0;
}

int mainView(Works* works, int pressFlags)
{
    if (isLong(pressFlags)) {
        works->statusView |= 1;
        setBackground(works, "status");
        // The page reports the transceiver link, so the link runs while it is open (the
        // page's way out switches it off again outside the transceiver's interface mode).
        if (works->setup && setupSwitch(works->setup, &Orvosetup::enaser) == '0') {
            setSetupSwitch(works->setup, &Orvosetup::enaser, '1');
            StartThreadIXO(works);
        }
        return 0;
    }
    if (EscFromStatus(works))
        return 0;
    works->screenPage = works->screenPage + 1 > 5 ? 1 : works->screenPage + 1;
    works->statusView = 0;
    works->angAuxPk = 0;
    SetWorkImg(works);
    logErr("type to %d\n", works->screenPage.load());
    return 0;
}

// --- bar 1, settings browse; bar 2, settings edit ---

int menuBack(Works* works, int)
{
    goBar(works, BAR_MAIN);
    return 0;
}

int menuUp(Works* works, int)
{
    works->menuSub = 0;
    const int idx = works->menuIdx - 1;
    works->menuIdx = idx < 0 ? works->menuCount - 1 : idx;
    return 0;
}

int menuDown(Works* works, int)
{
    const int idx = works->menuIdx + 1;
    works->menuIdx = idx >= works->menuCount ? 0 : idx;
    works->menuSub = 0;
    return 0;
}

int menuEnter(Works* works, int)
{
    if (!menuItemReadOnly(works->menuIdx))
        goBar(works, BAR_MENU_EDIT);
    return 0;
}

int editLeft(Works* works, int) { return ModifyParameter(works, 3); }
int editRight(Works* works, int) { return ModifyParameter(works, 4); }
int editMinus(Works* works, int) { return ModifyParameter(works, 1); }
int editPlus(Works* works, int) { return ModifyParameter(works, 2); }

int editEnter(Works* works, int)
{
    ModifyParameter(works, 0);
    const uint8_t view = works->statusView;
    goBar(works, (view & 2) ? BAR_INTERFACE : (view & 4) ? BAR_FILTER : BAR_MENU);
    return 0;
}

// --- bar 3, tune ---

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

// --- bar 5, retry or cancel the failed port of the error screen ---

int retryFailed(Works* works, int)
{
    switch (works->fatalError) {
    case 1:
        StartThreadLinear(works);
        break;
    case 2:
        StartThreadCAT(works);
        break;
    case 3:
        StartThreadIXO(works);
        break;
    case 5:
        StartIxoReadFFT(works);
        break;
    default:
        return 0;
    }
    works->fatalError = -1;
    return 0;
}

int cancelFailed(Works* works, int)
{
    Orvosetup* s = works->setup;
    switch (works->fatalError) {
    case 1:
        StartThreadLinear(works);
        break;
    case 2:
        if (s)
            setSetupSwitch(s, &Orvosetup::EnableCAT, '0');
        break;
    case 3:
        if (s)
            setSetupSwitch(s, &Orvosetup::enaser, '0');
        break;
    case 5:
        if (s)
            setSetupSwitch(s, &Orvosetup::EnableFFT, '0');
        break;
    default:
        return 0;
    }
    works->fatalError = -1;
    return 0;
}

// --- bar 6, bank and interface table; bar 7, table edit ---

int tableBack(Works* works, int)
{
    closeTablePage(works);
    goBar(works, BAR_MAIN);
    return 0;
}

int tableInterface(Works* works, int)
{
    ChangeInterfaceBanco(works);
    return 0;
}

int tableRowUp(Works* works, int)
{
    const int last = works->antennaRows > 0 ? works->antennaRows - 1 : 0;
    const int row = works->tabRow - 1;
    works->tabRow = row < 0 ? last : row;
    return 0;
}

int tableRowDown(Works* works, int)
{
    const int last = works->antennaRows > 0 ? works->antennaRows - 1 : 0;
    works->tabRow = nextWrapped(works->tabRow, last);
    return 0;
}

int tableUtilities(Works* works, int)
{
    goBar(works, BAR_UTILITIES);
    return 0;
}

int tableEdit(Works* works, int)
{
    works->tabCol = 0;
    goBar(works, BAR_TABLE_EDIT);
    return 0;
}

void backToTable(Works* works)
{
    goBar(works, BAR_INTERFACE);
    LblMenuAntenna(works);
}

int editBack(Works* works, int)
{
    // The edits are dropped: the bank's table is read again.
    LoadTabConfig(works, works->numBanco);
    works->tabCol = -1;
    backToTable(works);
    return 0;
}

int editColumnLeft(Works* works, int)
{
    works->tabCol = works->tabCol - 1 < 0 ? 4 : works->tabCol - 1;
    return 0;
}

int editColumnRight(Works* works, int)
{
    works->tabCol = nextWrapped(works->tabCol, 4);
    return 0;
}

int editCellUp(Works* works, int)
{
    ModifytabAntenna(works, 0);
    return 0;
}

int editCellDown(Works* works, int)
{
    ModifytabAntenna(works, 1);
    return 0;
}

int editSave(Works* works, int)
{
    SaveTabConfig(works, works->numBanco);
    return 0;
}

// --- bar 8, save a tune ---

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

// --- bars 9, 10, 11: utilities, bank copy, bank reset ---

int utilitiesBack(Works* works, int)
{
    backToTable(works);
    return 0;
}

int utilitiesCopy(Works* works, int)
{
    works->copyFrom = works->numBanco;
    goBar(works, BAR_COPY);
    return 0;
}

int utilitiesReset(Works* works, int)
{
    works->resetBank = works->numBanco;
    goBar(works, BAR_RESET);
    return 0;
}

int toTable(Works* works, int)
{
    goBar(works, BAR_INTERFACE);
    return 0;
}

int copyNextFrom(Works* works, int)
{
    works->copyFrom = nextWrapped(works->copyFrom, works->maxBank - 1);
    return 0;
}

int copyNextTo(Works* works, int)
{
    works->copyTo = nextWrapped(works->copyTo, works->maxBank - 1);
    return 0;
}

// The tuner tables and band table of one bank saved as another's. The current bank's own
// tables are read back afterwards, so the unit never goes on with the source's tables
// under the current bank's number (its next save would overwrite the current bank).
int copyStart(Works* works, int)
{
    const int from = works->copyFrom;
    const int to = works->copyTo;
    for (int antenna = 0; antenna < 3; ++antenna)
        LoadTabAtu(works, from, antenna);
    LoadTabConfig(works, from);
    for (int antenna = 0; antenna < 3; ++antenna)
        SaveTabAtu(works, to, antenna);
    SaveTabConfig(works, to);
    LoadTabConfig(works, works->numBanco);
    for (int antenna = 0; antenna < 3; ++antenna)
        LoadTabAtu(works, works->numBanco, antenna);
    goBar(works, BAR_INTERFACE);
    return 0;
}

int resetNextBank(Works* works, int)
{
    works->resetBank = nextWrapped(works->resetBank, works->maxBank);
    return 0;
}

int resetStart(Works* works, int)
{
    ResetBankFiles(works, works->resetBank);
    goBar(works, BAR_INTERFACE);
    return 0;
}

// --- bar 12, filter page ---

int filterEsc(Works* works, int)
{
    if (works->statusView & 4) {
        works->statusView &= static_cast<uint8_t>(~4u);
        SetWorkImg(works);
        goBar(works, BAR_MAIN);
    }
    return 0;
}

int filterUp(Works* works, int)
{
    works->filterIdx = works->filterIdx - 1 < 0 ? FILTER_ROWS - 1 : works->filterIdx - 1;
    return 0;
}

int filterDown(Works* works, int)
{
    works->filterIdx = nextWrapped(works->filterIdx, FILTER_ROWS - 1);
    return 0;
}

int filterEnable(Works* works, int)
{
    EnDisFilter(works, 1);
    return 0;
}

int filterDisable(Works* works, int)
{
    EnDisFilter(works, 0);
    return 0;
}

constexpr KeyCell NONE{"-", nullptr};

const KeyCell keyTable[BARS_USED][BAR_BUTTONS] = {
    // 0 main
    {{"bank / table page", mainBank}, {"attenuator", mainAttenuator}, {"antenna", mainAntenna},
     {"tune bar", mainTune}, {"settings", mainSettings}, {"view / status page", mainView}},
    // 1 settings browse
    {{"back", menuBack}, NONE, {"item up", menuUp}, {"item down", menuDown}, NONE, {"edit item", menuEnter}},
    // 2 settings edit
    {NONE, {"cursor left", editLeft}, {"cursor right", editRight}, {"minus", editMinus}, {"plus", editPlus},
     {"confirm", editEnter}},
    // 3 tune
    {{"back", tuneBack}, {"clear notice", tuneNotice}, {"fine tune", tuneFine}, {"tune", tuneComplete},
     {"tuner bypass", tuneBypass}, {"manual tune / resend", tuneManual}},
    // 4 manual tune
    {{"network mode / save", manualModeOrSave}, {"L down", manualLDown}, {"L up", manualLUp},
     {"C down", manualCDown}, {"C up", manualCUp}, {"transmit", manualTransmit}},
    // 5 retry
    {NONE, NONE, NONE, NONE, {"retry", retryFailed}, {"cancel", cancelFailed}},
    // 6 bank and interface table
    {{"back", tableBack}, {"interface", tableInterface}, {"row up", tableRowUp}, {"row down", tableRowDown},
     {"utilities", tableUtilities}, {"edit table", tableEdit}},
    // 7 table edit
    {{"drop edits", editBack}, {"column left", editColumnLeft}, {"column right", editColumnRight},
     {"cell up", editCellUp}, {"cell down", editCellDown}, {"save table", editSave}},
    // 8 save tune
    {{"escape", saveEsc}, {"bank", saveNextBank}, {"antenna", saveNextAntenna}, NONE, NONE, {"save", saveTune}},
    // 9 utilities
    {{"back", utilitiesBack}, {"copy bar", utilitiesCopy}, {"reset bar", utilitiesReset}, NONE, NONE, NONE},
    // 10 copy
    {{"back", toTable}, {"origin", copyNextFrom}, {"destination", copyNextTo}, NONE, NONE, {"copy", copyStart}},
    // 11 reset
    {{"back", toTable}, {"bank", resetNextBank}, NONE, NONE, NONE, {"reset", resetStart}},
    // 12 filter
    {{"escape", filterEsc}, {"row up", filterUp}, {"row down", filterDown}, NONE, {"enable", filterEnable},
     {"disable", filterDisable}},
};

} // namespace

void SetWorkImg(Works* works)
{
    const bool large = works->ampModel == '1';
    const char* name = large ? "img1b" : "img1";
    switch (works->screenPage) {
    case 2:
        name = large ? "img3b" : "img3";
        break;
    case 4:
        works->divX = 16;
        works->spanHz = 160000;
        works->xRangeEnd = 854;
        name = "m5a";
        break;
    case 5:
        works->divX = 8;
        works->spanHz = 80000;
        works->xRangeEnd = 427;
        name = "m5a";
        break;
    default:
        break;
    }
    setBackground(works, name);
    if (works->interfaceMode != 1 && works->setup)
        setSetupSwitch(works->setup, &Orvosetup::enaser, '0');
}

int EscFromStatus(Works* works)
{
    if (!(works->statusView & 1))
        return 0;
    works->statusView &= static_cast<uint8_t>(~1u);
    SetWorkImg(works);
    return 1;
}

int DecodeTasto(Works* works, int key, int pressFlags)
{
    works->lastActivity = monoMillis();
    if (works->screenSaverOn) {
        SetWorkImg(works);
        works->screenSaverOn = 0;
        logErr("----------> DISATTIVO SAVE SCREEN\n");
        return 0;
    }
    if (key < 1 || key > BAR_BUTTONS) {
        logErr("DecodeTasto: no key %d\n", key);
        return 0;
    }
    if (key == 1 && GPIO_Errori(works) == 1) {
        works->fineTuneOk = 0;
        clearMsgBits(works, 1);
        return 0;
    }
    const int bar = works->pageIdx;
    int result = 0;
    if (bar >= 0 && bar < BARS_USED) {
        const KeyCell& cell = keyTable[bar][key - 1];
        if (cell.action) {
            logErr("key %d%s on bar %d: %s\n", key, isLong(pressFlags) ? " (long)" : "", bar, cell.name);
            result = cell.action(works, pressFlags);
        }
    }
    clearMsgBits(works, 1);
    return result;
}
