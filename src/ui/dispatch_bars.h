#pragma once
// The key table's parts: the action of a key on a bar, the rows of keys each group of bars
// defines (dispatch_*.cpp), and the helpers the actions share.
#include "ui/menu.h"

#include <cstdint>

struct Works;

namespace bars {

// One key's action: pressFlags as DecodeTasto takes them; a non-zero result asks for the
// long press to repeat.
using KeyAction = int (*)(Works* works, int pressFlags);

struct KeyCell {
    const char* name;
    KeyAction action;  // nullptr: the key does nothing on this bar
};
constexpr KeyCell NONE{"-", nullptr};

// The rows of the bars, by pageIdx.
extern const KeyCell mainKeys[BAR_BUTTONS];        // 0
extern const KeyCell menuBrowseKeys[BAR_BUTTONS];  // 1
extern const KeyCell menuEditKeys[BAR_BUTTONS];    // 2
extern const KeyCell tuneKeys[BAR_BUTTONS];        // 3
extern const KeyCell manualTuneKeys[BAR_BUTTONS];  // 4
extern const KeyCell retryKeys[BAR_BUTTONS];       // 5
extern const KeyCell tableKeys[BAR_BUTTONS];       // 6
extern const KeyCell tableEditKeys[BAR_BUTTONS];   // 7
extern const KeyCell saveKeys[BAR_BUTTONS];        // 8
extern const KeyCell utilitiesKeys[BAR_BUTTONS];   // 9
extern const KeyCell copyKeys[BAR_BUTTONS];        // 10
extern const KeyCell resetKeys[BAR_BUTTONS];       // 11
extern const KeyCell filterKeys[BAR_BUTTONS];      // 12

bool isLong(int pressFlags);
void goBar(Works* works, int bar);
void clearMsgBits(Works* works, uint32_t bits);
// The antenna, attenuator and bypass of the current band row stored in the current bank.
void saveLiveSettings(Works* works);
// Steps a counter by one, back to 0 once it passes `last`.
int nextWrapped(int value, int last);

// The bank and interface table page: opened over the main bar, closed back to the view.
void openTablePage(Works* works);
void closeTablePage(Works* works);
// Back to the table page's bar, with its interface label.
void backToTable(Works* works);

} // namespace bars
