#pragma once
// What the campaign runner knows of the front panel: where a key leads from the button bars
// it visits, the key that leads back to the main bar, and the menu items it edits with the
// value a press gives. The runner confirms every press by the dispatcher's "key K on bar B"
// line, so this model only has to be right for the keys it presses.
#include <string>
#include <vector>

namespace endurance {

// The bar after `key` was taken on `bar` (0 main, 1 menu, 2 menu edit, 3 tune, 4 manual
// tune, 5 retry, 6 bank table, 7 table edit, 8 save, 9 utilities, 10 copy, 11 reset,
// 12 filter).
int barAfter(int bar, int key);
// The key that leads from `bar` towards the main bar.
int homeKey(int bar);

// A menu item the campaign edits: its index in the 32-item menu, its setup key, and what
// "+" adds (0: a switch that each press toggles).
struct MenuItem {
    int index;
    std::string key;
    int step;
};
const std::vector<MenuItem>& editedMenuItems();
// The key (4 down the list, 3 up) on the shorter way round the menu from one item to another.
int menuKeyTowards(int from, int to);
// The value in setup.txt after `presses` presses of "+" (up) or "-" and ENTER, from `before`.
std::string valueAfter(const MenuItem& item, const std::string& before, int presses, bool up);

} // namespace endurance
