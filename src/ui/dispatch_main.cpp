// Keys of the main bar and of the retry bar of the error screen.
#include "ui/dispatch_bars.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "amplifier/replies.h"
#include "config/banks.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/log.h"
#include "ui/dispatch.h"
#include "ui/layout.h"

namespace bars {
namespace {

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

// The error screen is asked to close before the port's thread starts again, so a thread that
// fails again at once raises its error over that request instead of being hidden by it.
bool closeErrorScreen(Works* works, int32_t failed)
{
    if (failed != 1 && failed != 2 && failed != 3 && failed != 5)
        return false;
    return works->fatalError.compare_exchange_strong(failed, -1);
}

int retryFailed(Works* works, int)
{
    const int32_t failed = works->fatalError;
    if (!closeErrorScreen(works, failed))
        return 0;
    switch (failed) {
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
        break;
    }
    return 0;
}

int cancelFailed(Works* works, int)
{
    Orvosetup* s = works->setup;
    const int32_t failed = works->fatalError;
    if (!closeErrorScreen(works, failed))
        return 0;
    switch (failed) {
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
        break;
    }
    return 0;
}

} // namespace

// Bar 0, main.
const KeyCell mainKeys[BAR_BUTTONS] = {
    {"bank / table page", mainBank}, {"attenuator", mainAttenuator}, {"antenna", mainAntenna},
    {"tune bar", mainTune}, {"settings", mainSettings}, {"view / status page", mainView}
};

// Bar 5, retry.
const KeyCell retryKeys[BAR_BUTTONS] = {
    NONE, NONE, NONE, NONE, {"retry", retryFailed}, {"cancel", cancelFailed}
};

} // namespace bars
