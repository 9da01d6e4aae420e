#include "panel_model.h"

#include <algorithm>
#include <cstdlib>

namespace endurance {

int barAfter(int bar, int key)
{
    switch (bar) {
    case 0: return key == 5 ? 1 : key == 4 ? 3 : 0;
    case 1: return key == 1 ? 0 : key == 6 ? 2 : 1;
    case 2: return key == 6 ? 1 : 2;
    case 3: return key == 1 ? 0 : key == 6 ? 4 : 3;
    case 4: return key == 1 ? 8 : 4;
    case 5: return key == 5 || key == 6 ? 0 : 5;
    case 6: return key == 1 ? 0 : 6;
    case 7: case 9: case 10: case 11: return key == 1 ? 6 : bar;
    case 8: return key == 1 ? 0 : key == 6 ? 3 : 8;
    case 12: return key == 1 ? 0 : 12;
    default: return bar;
    }
}

int homeKey(int bar)
{
    return bar == 2 || bar == 5 ? 6 : 1;
}

const std::vector<MenuItem>& editedMenuItems()
{
    // Date and time shown, temperature units, peak meter, its release time (ms, 0..5000 in
    // steps of 10), power units.
    static const std::vector<MenuItem> items = {
        {18, "ViewTimeStr", 0}, {19, "TempMode", 0}, {20, "EnablePwrPeak", 0}, {21, "Peak_Time", 10}, {24, "PowerUnits", 0},
    };
    return items;
}

int menuKeyTowards(int from, int to)
{
    return (to - from + 32) % 32 <= 16 ? 4 : 3;
}

std::string valueAfter(const MenuItem& item, const std::string& before, int presses, bool up)
{
    if (item.step == 0)
        return (presses % 2 == 0) == (before != "0") ? "1" : "0";
    int v = std::atoi(before.c_str());
    for (int i = 0; i < presses; ++i)
        v = std::clamp(v + (up ? item.step : -item.step), 0, 5000);
    return std::to_string(v);
}

} // namespace endurance
