#include "ui/menu_items.h"

#include "config/antenna_table.h"
#include "config/network.h"
#include "core/works.h"
#include "ui/menu.h"
#include "ui/screen_loop.h"
#include "ui/spectrum_plot.h"

#include <cstdio>

const MenuItem menuPar[MENU_ITEMS] = {
    {1, "MAX BANK", " ", false, false},
    {2, "FREQ", "Input Sens", false, false},
    {3, "FREQ", "Period (ms)", false, false},
    {4, "AUTO TUNE", "Enable IXO Tune", false, false},
    {5, "AUTO TUNE", "Force Attenuator", false, false},
    {6, "AUTO TUNE", "Target SWR (0=Off)", false, false},
    {7, "AUTO TUNE", "AutoTune Timeout", false, false},
    {8, "AUTO TUNE", "ATU Installed", false, false},
    {9, "IXO MAV USE MODE", " ", false, false},
    {10, "NETWORK LAN", "IP", false, true},
    {11, "NETWORK LAN", "SUBNET", false, true},
    {12, "NETWORK LAN", "GATEWAY", false, true},
    {13, "NETWORK LAN", "DNS", false, true},
    {14, "PLOT", "Ref Lev", false, false},
    {15, "PLOT", "Ref Pos", false, false},
    {16, "PLOT", "Point Div", false, false},
    {17, "PLOT", "Offset", false, false},
    {18, "FILTER SETTINGS", "View", false, false},
    {50, "VIEW SCREEN", "DateTime", false, false},
    {51, "TEMPERATURE UNITS", " ", false, false},
    {52, "PEAK POWER METER", " ", false, false},
    {53, "PEAK POWER METER", "Release Time (ms)", false, false},
    {54, "1-TEMPERATURE ALARM", " SET POINT", false, false},
    {55, "2-TEMPERATURE ALARM", " SET POINT", false, false},
    {56, "SET POWER UNITS", " ", false, false},
    {57, "SCREEN SAVER TIMEOUT", " ", false, false},
    {58, "FACTORY DEFAULT", " ", false, false},
    {59, "BUTTON TIME", "Long Press Time", false, false},
    {96, "OFF HW", " ", false, false},
    {97, "FW UPDATE", " ", false, false},
    {98, "UI UPDATE", " ", false, false},
    {99, "REMOTE SERVICE", " ", false, false},
};

const char AutoTuneTimeoutLabels[5][8] = {"25sec", "20sec", "15sec", "10sec", "5sec"};

namespace {

bool validItem(int item)
{
    return item >= 0 && item < MENU_ITEMS;
}

// A label of a five-entry table by a stored index; an index outside the table shows
// nothing rather than reading past it.
const char* choiceLabel(const char (&labels)[5][8], int index)
{
    return index >= 0 && index < 5 ? labels[index] : "";
}

const char* onOff(bool on)
{
    return on ? "ON" : "OFF";
}

} // namespace

bool menuItemIsAddress(int item)
{
    return validItem(item) && menuPar[item].address;
}

bool menuItemReadOnly(int item)
{
    return validItem(item) && menuPar[item].readOnly;
}

bool menuItemSlotZeroOnly(int item)
{
    switch (item) {
    case ITEM_USE_MODE:
    case ITEM_TEMP_UNITS:
    case ITEM_PEAK_METER:
    case ITEM_POWER_UNITS:
    case ITEM_FACTORY_DEFAULT:
    case ITEM_OFF_HW:
    case ITEM_FW_UPDATE:
    case ITEM_UI_UPDATE:
    case ITEM_REMOTE_SERVICE:
        return true;
    default:
        return false;
    }
}

const char* menuItemLabel(int item, int sub)
{
    if (!validItem(item) || sub != 0)
        return "";
    return menuPar[item].label;
}

int previousMenuItem(int item, int count)
{
    return item - 1 < 0 ? count - 1 : item - 1;
}

int nextMenuItem(int item, int count)
{
    return item + 1 >= count ? 0 : item + 1;
}

void LoadParameterMenu(Works* works, char* out, size_t size, int item, int sub)
{
    if (!out || size == 0 || !validItem(item))
        return;
    if (sub != 0 && (menuItemSlotZeroOnly(item) || item == ITEM_SCREEN_SAVER))
        return;
    const uint32_t svc = works->svcFlags;
    switch (item) {
    case ITEM_MAX_BANK:
        snprintf(out, size, "%d", works->maxBank.load());
        break;
    case ITEM_INPUT_SENS:
        snprintf(out, size, "%s", works->freqSensIn ? "FQ2" : "FQ1");
        break;
    case ITEM_PERIOD:
        snprintf(out, size, "%d", works->freqPeriodTime.load());
        break;
    case ITEM_IXO_TUNE:
        snprintf(out, size, "%s", (works->autoTuneMode & 1) ? "On" : "Off");
        break;
    case ITEM_FORCE_ATT:
        snprintf(out, size, "%sdB", choiceLabel(AttVectStr, works->attenuatorTune));
        break;
    case ITEM_TARGET_SWR:
        snprintf(out, size, "%02.02f", static_cast<double>(works->swrEscAutoTune));
        break;
    case ITEM_TUNE_TIMEOUT:
        snprintf(out, size, "%s", choiceLabel(AutoTuneTimeoutLabels, works->autoTuneMaxCicli));
        break;
    case ITEM_ATU_INSTALLED:
        snprintf(out, size, "%s", (works->tuneEnabled & 0x80) ? "No" : "Yes");
        break;
    case ITEM_USE_MODE:
        snprintf(out, size, "%s", works->remoteActive == 1 ? "Remote" : "Local");
        break;
    case ITEM_IP:
    case ITEM_SUBNET:
    case ITEM_GATEWAY:
    case ITEM_DNS:
        // The text always follows the octets being edited.
        SplitAddrInv(out, size, lanValue(item - ITEM_IP).octets);
        break;
    case ITEM_REF_LEV:
        snprintf(out, size, "%d", RefLevel.load());
        break;
    case ITEM_REF_POS:
        snprintf(out, size, "%d", RefPos.load());
        break;
    case ITEM_POINT_DIV:
        snprintf(out, size, "%d", PointDiv.load());
        break;
    case ITEM_OFFSET:
        snprintf(out, size, "%3.02f", works->offsetPlot.load());
        break;
    case ITEM_FILTER_VIEW:
        snprintf(out, size, "%s", onOff(works->filterView));
        break;
    case ITEM_DATE_TIME:
        snprintf(out, size, "%s", onOff(works->viewTimeStr));
        break;
    case ITEM_TEMP_UNITS:
        snprintf(out, size, "%s", works->tempMode ? "Fahrenheit" : "Celsius");
        break;
    case ITEM_PEAK_METER:
        snprintf(out, size, "%s", onOff(works->enablePwrPeak));
        break;
    case ITEM_RELEASE_TIME:
        snprintf(out, size, "%i", TimerPeakSec.load());
        break;
    case ITEM_ALARM1:
        snprintf(out, size, "%02.02f", static_cast<double>(works->maxTemperature));
        break;
    case ITEM_ALARM2:
        snprintf(out, size, "%02.02f", static_cast<double>(works->maxTemperature2));
        break;
    case ITEM_POWER_UNITS:
        snprintf(out, size, "%s", works->powerUnits ? "dBm" : "Watt");
        break;
    case ITEM_SCREEN_SAVER:
        snprintf(out, size, "%s", choiceLabel(SaveScreenVal, works->saveScreenIdx));
        break;
    case ITEM_FACTORY_DEFAULT:
        snprintf(out, size, "%s", works->factoryArmed ? "Set Default" : "No Default");
        break;
    case ITEM_LONG_PRESS:
        snprintf(out, size, "%01.01f sec", TIME_LONG_PRESS.load());
        break;
    case ITEM_OFF_HW:
        snprintf(out, size, "OFF");
        break;
    case ITEM_FW_UPDATE:
        snprintf(out, size, "%s", onOff(svc & 1));
        break;
    case ITEM_UI_UPDATE:
        snprintf(out, size, "%s", onOff(svc & 8));
        break;
    case ITEM_REMOTE_SERVICE:
        snprintf(out, size, "%s", onOff(svc & 2));
        break;
    default:
        break;
    }
}
