// The error key's recovery: bias reset of the board after a protection fault, removal of
// temporary warnings, restart of remote threads that ended on their own.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "core/setup.h"
#include "core/threads.h"
#include "platform/log.h"

#include <cstdio>

void ResetBiasCmd(Works* works)
{
    if (works->statoAmp[2] != 0 || (works->statoAmp[1] & 2)) {
        IncPNTIn_CMDLinear(13, works);
        logErr(">>> ERRORI: RESET Protezione AMPL!\n");
    }
    if (works->statoAmp[2] & 0x80)
        InitMicroCmd(works);
    IncPNTIn_CMDLinear(17, works);
    IncPNTIn_CMDLinear(works->ampBypass ? 20 : 19, works);
    IncPNTIn_CMDLinear(14, works);
}

void ClearDisplayError(Works* works)
{
    setErrorFlags(works, 2);
    DeleteErrore(works, ERR_TUNE_TIMEOUT);
    DeleteErrore(works, ERR_TUNE_SWR_WARNING);
    DeleteErrore(works, ERR_AUTOTUNE_ABORT);
    logErr(" -->reset protezione %c\n", works->statoAmp[1].load());
}

void VerificaEsistonoErrori(Works* works)
{
    int first = ExistAnError(works);
    if (first < 0)
        return;
    logErr("FOUND ERR: %d \n", first);
    ResetBiasCmd(works);
    VerifyWarningTemporaneiDopoResetBias(works);
}

void GestErroreRemote(Works* works)
{
    Orvosetup* s = works->setup;
    logErr(">>> RESTART REMOTE: %i %i audio %x %x\n", works->remoteActive.load(), works->remoteThreadExited.load(),
           s ? setupSwitch(s, &Orvosetup::EnableWrite) : 0, s ? setupSwitch(s, &Orvosetup::EnableRead) : 0);
    if (!s || works->remoteActive != 1 || works->remoteThreadExited != 1)
        return;
    logErr(">>> RESTART REMOTE!\n");
    works->remoteThreadExited = 0;
    if (setupSwitch(s, &Orvosetup::EnableWrite) == '0') {
        logErr("start audio write\n");
        fflush(stderr);
        setSetupSwitch(s, &Orvosetup::EnableWrite, '1');
        StartThreadAudioWrite(works);
    }
    if (setupSwitch(s, &Orvosetup::EnableRead) == '0') {
        logErr("start audio read\n");
        fflush(stderr);
        setSetupSwitch(s, &Orvosetup::EnableRead, '1');
        StartThreadAudioRead(works);
    }
    if (setupSwitch(s, &Orvosetup::EnableCAT) == '0') {
        setSetupSwitch(s, &Orvosetup::EnableCAT, '1');
        StartThreadCAT(works);
    }
    if (setupSwitch(s, &Orvosetup::EnableFFT) == '0') {
        setSetupSwitch(s, &Orvosetup::EnableFFT, '1');
        StartIxoReadFFT(works);
    }
}

void GestErrore(Works* works)
{
    logErr(">>> ERRORI: GestErrore\n");
    const uint8_t flags = errorFlags(works);
    if (flags & 1) {
        logErr(">>> ERRORI: ResetBiasCmd\n");
        ResetBiasCmd(works);
        works->cmdBurst = 1;
        works->errResend = 1;
    } else if (flags & 4) {
        VerifyWarningTemporanei(works);
        clearErrorFlags(works, 4);
    } else if (ExistAnError(works) >= 0) {
        logErr(">>> ERRORI2: VerificaEsistonoErrori\n");
        VerificaEsistonoErrori(works);
    }
    GestErroreRemote(works);
}

int GPIO_Errori(Works* works)
{
    if (errorFlags(works) != 0) {
        logErr("----------> 1- ERRORI!!\n");
        GestErrore(works);
        return 1;
    }
    int first = ExistAnError(works);
    if (first < 0)
        return 0;
    logErr("----------> 2- ERRORI!!\n");
    GestErroreRemote(works);
    if (first == 2)
        return 0;
    VerificaEsistonoErrori(works);
    return 1;
}

void GestErroreSerial(Works* works)
{
    ClearDisplayError(works);
    const uint8_t flags = errorFlags(works);
    if (flags & 1)
        VerifyWarningTemporaneiDopoResetBias(works);
    if (flags & 4) {
        VerifyWarningTemporanei(works);
        clearErrorFlags(works, 4);
    }
    if (ExistAnError(works) >= 0)
        VerificaEsistonoErrori(works);
}
