#pragma once
// The settings menu's items: number, group title, label and flags of each of the 32
// items, and the value text each shows.
#include <cstddef>

struct Works;

// One item of the settings menu (menuPar).
struct MenuItem {
    int number;         // shown before the row as "%d -"; not contiguous
    const char* group;  // title shared by the items of a group
    const char* label;  // label of the item (label slot 0)
    bool readOnly;      // ENTER is blank and the item cannot be opened for editing
    bool address;       // edits a dotted IPv4 address, octet by octet
};
extern const MenuItem menuPar[];

// Items by index, for the editor and the drawing.
enum MenuItemIndex {
    ITEM_MAX_BANK = 0,
    ITEM_INPUT_SENS = 1,
    ITEM_PERIOD = 2,
    ITEM_IXO_TUNE = 3,
    ITEM_FORCE_ATT = 4,
    ITEM_TARGET_SWR = 5,
    ITEM_TUNE_TIMEOUT = 6,
    ITEM_ATU_INSTALLED = 7,
    ITEM_USE_MODE = 8,
    ITEM_IP = 9,
    ITEM_SUBNET = 10,
    ITEM_GATEWAY = 11,
    ITEM_DNS = 12,
    ITEM_REF_LEV = 13,
    ITEM_REF_POS = 14,
    ITEM_POINT_DIV = 15,
    ITEM_OFFSET = 16,
    ITEM_FILTER_VIEW = 17,
    ITEM_DATE_TIME = 18,
    ITEM_TEMP_UNITS = 19,
    ITEM_PEAK_METER = 20,
    ITEM_RELEASE_TIME = 21,
    ITEM_ALARM1 = 22,
    ITEM_ALARM2 = 23,
    ITEM_POWER_UNITS = 24,
    ITEM_SCREEN_SAVER = 25,
    ITEM_FACTORY_DEFAULT = 26,
    ITEM_LONG_PRESS = 27,
    ITEM_OFF_HW = 28,
    ITEM_FW_UPDATE = 29,
    ITEM_UI_UPDATE = 30,
    ITEM_REMOTE_SERVICE = 31,
};

// Items that show a value and take an edit only in label slot 0 (the screen-saver item
// also shows its value only there; the alarm set points also edit only there).
bool menuItemSlotZeroOnly(int item);
// The label slot `sub` of an item: slot 0 carries the label, the others are empty.
const char* menuItemLabel(int item, int sub);
// The item before and after `item` in the circular list of `count` items.
int previousMenuItem(int item, int count);
int nextMenuItem(int item, int count);

// Labels of the choices of the AutoTune Timeout and screen-saver items, by index 0..4.
extern const char AutoTuneTimeoutLabels[5][8];

// The value text of item `item` into out (size bytes); sub is menuSub for the current
// row and 0 for its neighbours. Items that act only in slot 0 leave out untouched for a
// non-zero sub.
void LoadParameterMenu(Works* works, char* out, size_t size, int item, int sub);
