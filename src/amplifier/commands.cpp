// The command table of the amplifier link: what each command number sends and what it sets.
#include "amplifier/link.h"

#include "core/works.h"
#include "platform/log.h"
#include "tuner/tune_memory.h"

#include <cstdio>
#include <mutex>

namespace {

struct Command {
    int number;
    const char* text;  // fixed text, or nullptr when built from fields
};

const Command fixedCommands[] = {
    {0, "VSM;"}, {1, "ST;"}, {8, "FM;"}, {10, "MT;"}, {13, "CPFFFF;"}, {17, "MP0;"}, {18, "MP1;"},
    {32, "MR0;"}, {34, "GS;"}, {36, "ER0000;"}, {37, "ER0001;"}, {38, "ER0002;"},
};

const char* attenuatorText(int code)
{
    static const char* const texts[4] = {"AT00;", "AT01;", "AT10;", "AT11;"};
    return texts[code & 3];
}

void writeCommand(Works* works, const char* text, int number)
{
    LastCmdSent(works, text[0], text[1], number);
    writeLinearPort(works->linFD, text, std::char_traits<char>::length(text), works);
}

} // namespace

void SetAttenuatorCMD(Works* works, int code, int number)
{
    const char* text = attenuatorText(code);
    LastCmdSent(works, 'A', 'T', number);
    writeLinearPort(works->linFD, text, 5, works);
    linearProcessStatus = LINK_WAIT_REPLY;
    logErr(">> %s\n", text);
}

void sendLinearCommand(Works* works, int number)
{
    for (const Command& c : fixedCommands) {
        if (c.number == number) {
            writeCommand(works, c.text, number);
            linearProcessStatus = LINK_WAIT_REPLY;
            if (number == 34)
                logErr(">>r: %s\n", c.text);
            return;
        }
    }
    char text[64];
    const char* logFormat = nullptr;
    switch (number) {
    case 7:
        snprintf(text, sizeof text, "SA%d;", works->antenna + 1);
        break;
    case 9:
        snprintf(text, sizeof text, "FA%011lu;", static_cast<unsigned long>(works->frequency));
        break;
    case 11: {
        std::lock_guard<std::mutex> lock(works->tuneLock);
        snprintf(text, sizeof text, "MT1%08X;", works->tuneval.load());
        works->atuBypass = (works->tuneval >> 16) & 1;
        writeCommand(works, text, number);
        linearProcessStatus = LINK_WAIT_REPLY;
        return;
    }
    case 12:
        snprintf(text, sizeof text, "FS%01d%04d;", works->freqSensIn.load(), works->freqPeriodTime.load() / 10);
        break;
    case 14:
        SetAttenuatorCMD(works, works->attenuator, number);
        return;
    case 15:
        SetAttenuatorCMD(works, works->attenuatorTune, number);
        return;
    case 16:
        SetAttenuatorCMD(works, 3, number);
        return;
    case 19:
        works->bypassReq = 0;
        snprintf(text, sizeof text, "AB0;");
        logFormat = ">> %s\n";
        break;
    case 20:
        works->bypassReq = 1;
        works->attenuatorSel = 4;
        snprintf(text, sizeof text, "AB1;");
        logFormat = ">> %s\n";
        break;
    case 21:
        snprintf(text, sizeof text, "AN%d;", works->anState.load());
        logFormat = ">> %s\n";
        break;
    case 22:
        snprintf(text, sizeof text, "TS%04d%04d%04d%04d;", works->tsPar[0].load(), works->tsPar[1].load(),
                 works->tsPar[2].load(), works->tsPar[3].load());
        break;
    case 23:
    case 41: {
        // The amplifier's fan speed, or the speed the processor needs when the amplifier
        // needs none.
        const int percent = number == 23 ? works->fanPercent : works->fanPercentCPU;
        snprintf(text, sizeof text, "FN1%03d;", percent);
        works->fanCmdPending = 0;
        works->fanPercentSent = percent;
        logFormat = number == 23 ? ">> %s\n" : ">>CPU %s\n";
        break;
    }
    case 24:
        snprintf(text, sizeof text, "PS%04d%04d%04d%04d;", works->psPar[0].load(), works->psPar[1].load(),
                 works->psPar[2].load(), works->psPar[3].load());
        logFormat = ">> %s\n";
        break;
    case 27:
    case 39:
    case 40: {
        // The tuner word changes and goes on the wire under the tune lock.
        std::lock_guard<std::mutex> lock(works->tuneLock);
        if (number == 27) {
            LoadTuneFromMEM(works, works->antenna);
            works->atuBypass = 0;
        } else if (number == 39) {
            works->atuBypass = 1;
            works->tuneval = (works->tuneval | (1u << 16)) & ~((1u << 18) | (1u << 23));
        } else {
            works->atuBypass = 0;
            works->tuneval = 0;
            works->capacita = 0;
            works->induttanza = 0;
            works->tuneval |= 1u << 23;
        }
        snprintf(text, sizeof text, "MT1%08X;", works->tuneval.load());
        writeCommand(works, text, number);
        linearProcessStatus = LINK_WAIT_REPLY;
        return;
    }
    case 28:
        snprintf(text, sizeof text, "SF30000%02x;", works->sfValue & 0xFF);
        logFormat = ">> %s\n";
        break;
    case 30:
        works->svcFlags |= 1u << 2;
        works->pageIdx = 0;
        writeCommand(works, "MR1;", number);
        linearProcessStatus = LINK_IDLE;
        return;
    case 33:
        snprintf(text, sizeof text, "GM%04d%04d;", works->gmPar1.load(), works->gmPar2.load());
        logFormat = ">> %s\n";
        break;
    case 35: {
        char settings[11];
        snprintf(settings, sizeof settings, "%s", works->impostazioniGenerali);
        if (settings[0] != '\0' && settings[1] != '\0') {
            int v = settings[1];
            settings[1] = static_cast<char>(works->interfaceMode == 0 ? (v | 2) : (v & ~2));
        }
        snprintf(text, sizeof text, "GS%s;", settings);
        break;
    }
    default:
        // Not a command number: nothing to send.
        logErr("Linear: no command %d\n", number);
        linearProcessStatus = 1;
        return;
    }
    writeCommand(works, text, number);
    linearProcessStatus = LINK_WAIT_REPLY;
    if (logFormat)
        logErr(logFormat, text);
}
