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

// The rows of the bars, in pageIdx order: 0 main, 1 settings browse, 2 settings edit,
// 3 tune, 4 manual tune, 5 retry, 6 bank table, 7 table edit, 8 save tune, 9 utilities,
// 10 copy, 11 reset, 12 filter.
extern const KeyCell mainKeys[BAR_BUTTONS], menuBrowseKeys[BAR_BUTTONS], menuEditKeys[BAR_BUTTONS],
    tuneKeys[BAR_BUTTONS], manualTuneKeys[BAR_BUTTONS], retryKeys[BAR_BUTTONS], tableKeys[BAR_BUTTONS],
    tableEditKeys[BAR_BUTTONS], saveKeys[BAR_BUTTONS], utilitiesKeys[BAR_BUTTONS], copyKeys[BAR_BUTTONS],
    resetKeys[BAR_BUTTONS], filterKeys[BAR_BUTTONS];

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
