// Editing the settings: one button action on the current settings item, and one on the
// selected cell of the bank table page. Values change in works at once; the setup file is
// written where an action saves.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "config/factory_reset.h"
#include "config/network.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/shell.h"
#include "ui/dispatch.h"
#include "ui/keyboard.h"
#include "ui/layout.h"
#include "ui/menu.h"
#include "ui/menu_items.h"
#include "ui/spectrum_plot.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// Link commands queued by number: the frequency counter's input and period, and the
// board's firmware update.
constexpr int CMD_FREQ_COUNTER = 12;
constexpr int CMD_FIRMWARE_UPDATE = 30;
constexpr uint8_t TINY_POWER_OFF = 133;

enum Action { ENTER = 0, DECREASE = 1, INCREASE = 2, CURSOR_LEFT = 3, CURSOR_RIGHT = 4 };

void save(Works* works)
{
    writeSetup(works);
}

// A scaled setting stepped by whole units of its resolution (hundredths, tenths), so that
// repeated steps land on the values they show and never drift below a limit they reach.
double stepped(double value, double scale, int units)
{
    return static_cast<double>(std::lround(value * scale) + units) / scale;
}

void toggle(Relaxed<int32_t>& field)
{
    field = field ? 0 : 1;
}

// An index of a five-entry choice stepped as a byte: anything past the last entry, or
// below the first, comes back to 0.
int stepChoice(int index, int action)
{
    if (action == DECREASE)
        index = static_cast<uint8_t>(index - 1);
    else if (action == INCREASE)
        index = index + 1;
    return index > 4 ? 0 : index;
}

int maxBank(Works* works, int action)
{
    if (action == DECREASE) {
        const int v = works->maxBank - 1;
        works->maxBank = v <= 1 ? 20 : v;
    } else if (action == INCREASE) {
        const int v = works->maxBank + 1;
        works->maxBank = v > 20 ? 2 : v;
    } else {
        save(works);
    }
    return 0;
}

int frequencyCounter(Works* works, int item, int action)
{
    if (action == ENTER) {
        IncPNTIn_CMDLinear(CMD_FREQ_COUNTER, works);
        save(works);
        return 0;
    }
    if (item == ITEM_INPUT_SENS) {
        works->freqSensIn = works->freqSensIn ? 0 : 1;
        return 0;
    }
    if (action == DECREASE && works->freqPeriodTime > 10)
        works->freqPeriodTime -= 10;
    else if (action == INCREASE && works->freqPeriodTime <= 9999)
        works->freqPeriodTime += 10;
    return action == DECREASE || action == INCREASE ? 1 : 0;
}

int targetSwr(Works* works, int action)
{
    if (action == ENTER) {
        save(works);
        return 0;
    }
    double v = works->swrEscAutoTune;
    if (action == DECREASE) {
        v = stepped(v, 100, -1);
        if (v < 1)
            v = 0;
    } else if (action == INCREASE) {
        v = stepped(v, 100, 1);
        if (v < 1)
            v = 1;
    }
    works->swrEscAutoTune = static_cast<float>(std::clamp(v, 0.0, 10.0));
    return 1;
}

int alarmSetPoint(Works* works, Relaxed<float>& setPoint, int action)
{
    if (action == ENTER) {
        save(works);
        return 0;
    }
    double v = setPoint;
    if (action == DECREASE)
        v = stepped(v, 10, -1);
    else if (action == INCREASE)
        v = stepped(v, 10, 1);
    const double high = std::max(20.0, static_cast<double>(works->maxTempAllowed));
    setPoint = static_cast<float>(std::clamp(v, 20.0, high));
    return 1;
}

int plotOffset(Works* works, int action)
{
    if (action == DECREASE)
        works->offsetPlot = stepped(works->offsetPlot, 10, -1);
    else if (action == INCREASE)
        works->offsetPlot = stepped(works->offsetPlot, 10, 1);
    else
        save(works);
    return 1;
}

int releaseTime(Works* works, int action)
{
    if (action == DECREASE)
        TimerPeakSec = std::max(0, TimerPeakSec - 10);
    else if (action == INCREASE)
        TimerPeakSec = std::min(5000, TimerPeakSec + 10);
    else
        save(works);
    return 1;
}

int longPress(Works* works, int action)
{
    if (action == DECREASE)
        TIME_LONG_PRESS = std::max(0.3, stepped(TIME_LONG_PRESS, 10, -1));
    else if (action == INCREASE)
        TIME_LONG_PRESS = std::min(5.0, stepped(TIME_LONG_PRESS, 10, 1));
    else
        save(works);
    return 0;
}

int plotScale(int item, int action)
{
    if (item == ITEM_REF_LEV) {
        if (action == DECREASE)
            RefLevel -= 10;
        else if (action == INCREASE)
            RefLevel += 10;
    } else if (item == ITEM_REF_POS) {
        if (action == DECREASE && RefPos > 0)
            --RefPos;
        else if (action == INCREASE && RefPos <= 9)
            ++RefPos;
    } else if (action == DECREASE && PointDiv > 1) {
        PointDiv = PointDiv / 2;
    } else if (action == INCREASE && PointDiv <= 19) {
        // The steps are 1, 2, 5, 10, 20.
        const int doubled = PointDiv * 2;
        PointDiv = doubled == 4 ? 5 : doubled;
    }
    return 0;
}

void filterPage(Works* works)
{
    if (works->filterView) {
        works->statusView |= 4;
        setBackground(works, "statusB");
    } else {
        works->statusView &= static_cast<uint8_t>(~4u);
        SetWorkImg(works);
    }
}

int service(Works* works, int item, int action)
{
    const uint32_t bit = item == ITEM_FW_UPDATE ? 1u : item == ITEM_UI_UPDATE ? 8u : 2u;
    if (action != ENTER) {
        works->svcFlags ^= bit;
        return 0;
    }
    if (!(works->svcFlags & bit))
        return 0;
    if (item == ITEM_FW_UPDATE) {
        IncPNTIn_CMDLinear(CMD_FIRMWARE_UPDATE, works);
        logErr("Start AGGFW\n");
    } else if (item == ITEM_UI_UPDATE) {
        works->msgFlags |= 8u;
        logErr("Start AGG UI...\n");
        runShell("/opt/IxoMav/getpack.sh");
    } else {
        RemoteConnection();
        logErr("Start REMOTE SRV\n");
    }
    return 0;
}

// A switch item: ENTER saves, every other action toggles.
int switchItem(Works* works, Relaxed<int32_t>& field, int action)
{
    if (action == ENTER)
        save(works);
    else
        toggle(field);
    return 0;
}

} // namespace

int ModifyParameter(Works* works, int action)
{
    const int item = works->menuIdx;
    if (works->menuSub != 0 && (menuItemSlotZeroOnly(item) || item == ITEM_ALARM1 || item == ITEM_ALARM2))
        return 0;
    switch (item) {
    case ITEM_MAX_BANK:
        return maxBank(works, action);
    case ITEM_INPUT_SENS:
    case ITEM_PERIOD:
        return frequencyCounter(works, item, action);
    case ITEM_IXO_TUNE:
        if (action == ENTER)
            save(works);
        else
            works->autoTuneMode = (works->autoTuneMode & 1) ? 0 : 1;
        return 0;
    case ITEM_FORCE_ATT:
        if (action == ENTER)
            save(works);
        else
            works->attenuatorTune = works->attenuatorTune + 1 > 3 ? 0 : works->attenuatorTune + 1;
        return 0;
    case ITEM_TARGET_SWR:
        return targetSwr(works, action);
    case ITEM_TUNE_TIMEOUT:
        if (action == ENTER)
            save(works);
        else
            works->autoTuneMaxCicli = stepChoice(works->autoTuneMaxCicli, action);
        return 0;
    case ITEM_ATU_INSTALLED:
        if (action == ENTER) {
            save(works);
        } else {
            works->tuneEnabled ^= 0x80;
            logErr("----------> SAVE ATU: 0x%0X\n", works->tuneEnabled.load());
        }
        return 0;
    case ITEM_USE_MODE:
        if (action == ENTER)
            ConfirmRemoteUse(works);
        else
            SwitchRemoteUse(works);
        return 0;
    case ITEM_IP:
    case ITEM_SUBNET:
    case ITEM_GATEWAY:
    case ITEM_DNS:
        if (action == ENTER)
            SaveLanParam();
        else
            modifyLanValue(item - ITEM_IP, action);
        return 0;
    case ITEM_REF_LEV:
    case ITEM_REF_POS:
    case ITEM_POINT_DIV:
        return plotScale(item, action);
    case ITEM_OFFSET:
        return plotOffset(works, action);
    case ITEM_FILTER_VIEW:
        if (action == ENTER)
            filterPage(works);
        else
            works->filterView = works->filterView ? 0 : 1;
        return 0;
    case ITEM_DATE_TIME:
        return switchItem(works, works->viewTimeStr, action);
    case ITEM_TEMP_UNITS:
        return switchItem(works, works->tempMode, action);
    case ITEM_PEAK_METER:
        return switchItem(works, works->enablePwrPeak, action);
    case ITEM_POWER_UNITS:
        return switchItem(works, works->powerUnits, action);
    case ITEM_RELEASE_TIME:
        return releaseTime(works, action);
    case ITEM_ALARM1:
        return alarmSetPoint(works, works->maxTemperature, action);
    case ITEM_ALARM2:
        return alarmSetPoint(works, works->maxTemperature2, action);
    case ITEM_SCREEN_SAVER:
        if (action == ENTER)
            save(works);
        else
            works->saveScreenIdx = stepChoice(works->saveScreenIdx, action);
        return 0;
    case ITEM_FACTORY_DEFAULT:
        if (action == ENTER) {
            uint8_t armed = works->factoryArmed;
            FactoryDefault(works, &armed);
            works->factoryArmed = armed;
        } else
            works->factoryArmed = works->factoryArmed ? 0 : 1;
        return 0;
    case ITEM_LONG_PRESS:
        return longPress(works, action);
    case ITEM_OFF_HW:
        works->tinyCmdActive = TINY_POWER_OFF;
        return 0;
    case ITEM_FW_UPDATE:
    case ITEM_UI_UPDATE:
    case ITEM_REMOTE_SERVICE:
        return service(works, item, action);
    default:
        return 0;
    }
}

void ModifytabAntenna(Works* works, int direction)
{
    const int row = works->tabRow;
    std::lock_guard<std::mutex> lock(works->antennaTableMutex);
    if (row < 0 || row >= std::min<int>(works->antennaRows, ANT_ROWS))
        return;
    AntennaRow& r = works->antennaTable[row];
    const int step = direction == 0 ? 1 : -1;
    switch (works->tabCol) {
    case 0:
        r.pwr = static_cast<float>(stepped(r.pwr, 10, step));
        // The row's attenuator is kept to a step that exists (a stored table with any
        // other index is refused when it is read back).
        r.att = std::min<uint8_t>(r.att, ROW_ATTENUATOR_MAX);
        break;
    case 1: {
        const auto att = static_cast<uint8_t>(r.att + step);
        r.att = att > ROW_ATTENUATOR_MAX ? 0 : att;
        break;
    }
    case 2:
        r.ampEnable = r.ampEnable ? 0 : 1;
        break;
    case 3: {
        const int ant = r.ant + step;
        r.ant = static_cast<uint8_t>(ant == 0 ? 3 : ant > 3 ? 1 : ant);
        break;
    }
    case 4:
        r.atuBypass = r.atuBypass ? 0 : 1;
        break;
    default:
        break;
    }
}
