#include "ui/labels.h"

#include "config/antenna_table.h"
#include "core/works.h"
#include "tuner/tune_word.h"
#include "ui/menu.h"

#include <cstdio>

namespace {

bool onBar(const Works* works, int bar)
{
    return works->pageIdx == bar;
}

} // namespace

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

void setLowerNumberLabel(int bar, int button, const char* prefix, int value)
{
    char text[32];
    snprintf(text, sizeof text, "%s%d", prefix, value);
    setBarLabel(bar, button, 1, text);
}

void SetAttenuatorLabel(Works* works)
{
    if (!onBar(works, BAR_MAIN))
        return;
    char text[sizeof AttVectStr + 4];
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
    setLowerNumberLabel(BAR_MAIN, 1, "BANK", works->numBanco);
}

void LabelByPassATU(Works* works)
{
    if (!onBar(works, BAR_TUNE))
        return;
    setBarLabel(BAR_TUNE, 5, 1, works->atuBypass ? "   Bpy" : "   On");
}

void LabelSAVEATU(Works* works)
{
    if (!onBar(works, BAR_SAVE))
        return;
    setLowerNumberLabel(BAR_SAVE, 2, "   ", works->saveBank);
    setLowerNumberLabel(BAR_SAVE, 3, "     ", works->saveAnt + 1);
}

void LblCOPY(Works* works)
{
    if (!onBar(works, BAR_COPY))
        return;
    setLowerNumberLabel(BAR_COPY, 2, "    ", works->copyFrom);
    setLowerNumberLabel(BAR_COPY, 3, "    ", works->copyTo);
}

void LblRESET(Works* works)
{
    if (!onBar(works, BAR_RESET))
        return;
    if (works->resetBank == works->maxBank)
        setBarLabel(BAR_RESET, 2, 1, "  ALL");
    else
        setLowerNumberLabel(BAR_RESET, 2, "    ", works->resetBank);
}

void LblMenuAntenna(Works* works)
{
    if (!onBar(works, BAR_INTERFACE))
        return;
    const char* name = interfaceName(works->interfaceMode);
    setBarLabel(BAR_INTERFACE, 2, 1, *name ? name : " ");
}

void ImpostaLblManuale(Works* works)
{
    if (!onBar(works, BAR_MANUAL_TUNE))
        return;
    setLowerNumberLabel(BAR_MANUAL_TUNE, 3, "     ", works->induttanza);
    setLowerNumberLabel(BAR_MANUAL_TUNE, 5, "     ", works->capacita);
    setBarLabel(BAR_MANUAL_TUNE, 1, 1, tuneModeText(works->tuneval));
}

const char* interfaceName(int mode)
{
    return mode >= 0 && mode <= 2 ? MODEwork[mode] : "";
}
