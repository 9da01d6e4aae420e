// Keys of the settings bars (browse and edit) and of the filter page.
#include "ui/dispatch_bars.h"

#include "amplifier/filters.h"
#include "core/works.h"
#include "ui/layout.h"
#include "ui/menu.h"

namespace bars {
namespace {

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

} // namespace

// Bar 1, settings browse.
const KeyCell menuBrowseKeys[BAR_BUTTONS] = {
    {"back", menuBack}, NONE, {"item up", menuUp}, {"item down", menuDown}, NONE, {"edit item", menuEnter}
};

// Bar 2, settings edit.
const KeyCell menuEditKeys[BAR_BUTTONS] = {
    NONE, {"cursor left", editLeft}, {"cursor right", editRight}, {"minus", editMinus}, {"plus", editPlus},
    {"confirm", editEnter}
};

// Bar 12, filter.
const KeyCell filterKeys[BAR_BUTTONS] = {
    {"escape", filterEsc}, {"row up", filterUp}, {"row down", filterDown}, NONE, {"enable", filterEnable},
    {"disable", filterDisable}
};

} // namespace bars
