// The key table: for every button bar and key, the named action it runs (the actions of
// each group of bars in dispatch_*.cpp).
#include "ui/dispatch.h"

#include "amplifier/errors.h"
#include "config/antenna_table.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "ui/dispatch_bars.h"
#include "ui/layout.h"
#include "ui/menu.h"

namespace bars {

bool isLong(int pressFlags)
{
    return pressFlags != 0;
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

int nextWrapped(int value, int last)
{
    return value + 1 > last ? 0 : value + 1;
}

} // namespace bars

namespace {

using bars::KeyCell;

const KeyCell* const keyTable[BARS_USED] = {
    bars::mainKeys,     bars::menuBrowseKeys, bars::menuEditKeys,  bars::tuneKeys, bars::manualTuneKeys,
    bars::retryKeys,    bars::tableKeys,      bars::tableEditKeys, bars::saveKeys, bars::utilitiesKeys,
    bars::copyKeys,     bars::resetKeys,      bars::filterKeys};

} // namespace

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
        bars::clearMsgBits(works, 1);
        return 0;
    }
    const int bar = works->pageIdx;
    int result = 0;
    if (bar >= 0 && bar < BARS_USED) {
        const KeyCell& cell = keyTable[bar][key - 1];
        if (cell.action) {
            logErr("key %d%s on bar %d: %s\n", key, bars::isLong(pressFlags) ? " (long)" : "", bar, cell.name);
            result = cell.action(works, pressFlags);
        }
    }
    bars::clearMsgBits(works, 1);
    return result;
}
