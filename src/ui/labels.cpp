#include "ui/labels.h"

#include "config/antenna_table.h"
#include "core/works.h"
#include "tuner/tune_word.h"
#include "ui/menu.h"

#include <cstdio>
#include <cstring>

namespace {

bool onBar(const Works* works, int bar)
{
    return works->pageIdx == bar;
}

const char* tuneModeText(uint32_t tuneval)
{
    switch (DecodeModoFromTuneval(tuneval)) {
    case TUNE_MODE_CL:
        return "CL";
    case TUNE_MODE_LC:
        return "LC";
    default:
        return "ByP";
    }
}

} // namespace

void SetAttenuatorLabel(Works* works)
{
    if (!onBar(works, BAR_MAIN))
        return;
    char text[32];
    const int att = works->attenuator;
    if (works->ampBypass == 1)
        snprintf(text, sizeof text, "  %s", AttVectStr[4]);
    else
        snprintf(text, sizeof text, "  %sdB", AttVectStr[att >= 0 && att <= 3 ? att : 0]);
    setBarLabel(BAR_MAIN, 2, 1, text);
}

void SetModeWorkLabel(Works* works)
{
    if (!onBar(works, BAR_MAIN))
        return;
    char text[32];
    snprintf(text, sizeof text, "BANK%i", works->numBanco);
    setBarLabel(BAR_MAIN, 1, 1, text);
}

void SetAutoAntennaLabel(Works* works, int antennaNumber)
{
    if (!onBar(works, BAR_MAIN))
        return;
    char text[32];
    snprintf(text, sizeof text, "Auto %d", antennaNumber);
    setBarLabel(BAR_MAIN, 3, 1, text);
}

void LabelByPassATU(Works* works)
{
    if (!onBar(works, BAR_TUNE))
        return;
    setBarLabel(BAR_TUNE, 5, 1, works->atuBypass ? "   Bpy" : "   On");
}

void LabelByPassOrvo(Works* works, const char* text)
{
    if (!onBar(works, BAR_TUNE))
        return;
    setBarLabel(BAR_TUNE, 5, 1, text);
}

void LabelSAVEATU(Works* works)
{
    if (!onBar(works, BAR_SAVE))
        return;
    char text[32];
    snprintf(text, sizeof text, "   %i", works->saveBank.load());
    setBarLabel(BAR_SAVE, 2, 1, text);
    snprintf(text, sizeof text, "     %i", works->saveAnt.load() + 1);
    setBarLabel(BAR_SAVE, 3, 1, text);
}

void LblCOPY(Works* works)
{
    if (!onBar(works, BAR_COPY))
        return;
    char text[32];
    snprintf(text, sizeof text, "    %i", works->copyFrom.load());
    setBarLabel(BAR_COPY, 2, 1, text);
    snprintf(text, sizeof text, "    %i", works->copyTo.load());
    setBarLabel(BAR_COPY, 3, 1, text);
}

void LblRESET(Works* works)
{
    if (!onBar(works, BAR_RESET))
        return;
    char text[32];
    if (works->resetBank == works->maxBank)
        snprintf(text, sizeof text, "  ALL");
    else
        snprintf(text, sizeof text, "    %i", works->resetBank.load());
    setBarLabel(BAR_RESET, 2, 1, text);
}

void LblMenuAntenna(Works* works)
{
    if (!onBar(works, BAR_INTERFACE))
        return;
    char text[LABEL_SIZE] = " ";
    GetLblInterface(works->interfaceMode, text);
    setBarLabel(BAR_INTERFACE, 2, 1, text);
}

void ImpostaLblManuale(Works* works)
{
    if (!onBar(works, BAR_MANUAL_TUNE))
        return;
    char text[32];
    snprintf(text, sizeof text, "     %u", static_cast<unsigned>(works->induttanza));
    setBarLabel(BAR_MANUAL_TUNE, 3, 1, text);
    snprintf(text, sizeof text, "     %u", static_cast<unsigned>(works->capacita));
    setBarLabel(BAR_MANUAL_TUNE, 5, 1, text);
    setBarLabel(BAR_MANUAL_TUNE, 1, 1, tuneModeText(works->tuneval));
}

void GetLblInterface(int mode, char* destination)
{
    if (mode < 0 || mode > 2)
        return;
    memcpy(destination, MODEwork[mode], sizeof MODEwork[mode]);
}
