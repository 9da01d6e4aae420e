#pragma once
// The button bars of the screens (Orvomenu) and the settings menu. The bars are built once
// by InitMenuOrvo; single labels are rewritten at run time by the label setters
// (ui/labels.h) from the key handler and from the screen loop.
#include <cstdint>

struct Works;

constexpr int BAR_SLOTS = 16;      // entries of Orvomenu
constexpr int BARS_USED = 13;      // bars 0..12 exist
constexpr int BAR_BUTTONS = 6;
constexpr int LABEL_SIZE = 12;     // 11 characters and the terminating zero
constexpr int MENU_ITEMS = 32;

// The bars by pageIdx.
enum Bar {
    BAR_MAIN = 0,
    BAR_MENU = 1,
    BAR_MENU_EDIT = 2,
    BAR_TUNE = 3,
    BAR_MANUAL_TUNE = 4,
    BAR_RETRY = 5,
    BAR_INTERFACE = 6,
    BAR_TABLE_EDIT = 7,
    BAR_SAVE = 8,
    BAR_UTILITIES = 9,
    BAR_COPY = 10,
    BAR_RESET = 11,
    BAR_FILTER = 12,
};

// Flag byte of a bar: bit 0 underlines button 1, bit 5 button 6.
constexpr uint8_t BAR_MARK_BUTTON1 = 0x01;
constexpr uint8_t BAR_MARK_BUTTON6 = 0x20;

// One bar: per button an upper (line 0) and a lower (line 1) label, then the flag byte.
struct ButtonBar {
    char label[BAR_BUTTONS][2][LABEL_SIZE];
    uint8_t flags;
};

// The key handler and the screen loop both write labels, so Orvomenu is only reached
// through these two calls, which hold one lock; the drawing works on a copy.
// setBarLabel cuts a longer text to the label size (11 characters).
void setBarLabel(int bar, int button, int line, const char* text);
ButtonBar barLabels(int bar);

// Fills the bars (with the bank, attenuator and antenna of works) and sets menuCount.
void InitMenuOrvo(Works* works);

// Settings items that show an address (edited octet by octet) and items that cannot be
// opened for editing (ui/menu_items.cpp).
bool menuItemIsAddress(int item);
bool menuItemReadOnly(int item);

// The view of the lower screen area chosen by the page, the service flags and the status
// view: the settings menu, the memory table page, the filter page, a service notice or
// the status strip, drawn into drawBuf (ui/menu_draw.cpp).
void DrawParameters(Works* works);
// One button action on the current settings item: 0 ENTER, 1 minus, 2 plus, 3 and 4 the
// cursor keys of the address items. 1 asks the button reader to repeat a held key
// (ui/menu_edit.cpp).
int ModifyParameter(Works* works, int action);
// One step of the selected cell of the bank table page: direction 0 up, 1 down.
void ModifytabAntenna(Works* works, int direction);
