#include "ui/menu.h"

#include "amplifier/errors.h"
#include "config/antenna_table.h"
#include "core/works.h"
#include "ui/labels.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

ButtonBar Orvomenu[BAR_SLOTS] = {};
std::mutex orvomenuMutex;

// The texts of one bar, button 1 to 6, upper and lower line ("" for a blank lower line).
struct BarText {
    const char* text[BAR_BUTTONS][2];
    uint8_t flags;
};

// Bar 0's lower labels of buttons 1..3 are formatted from the bank at start-up; the
// texts here are their formats' neighbours and are overwritten in InitMenuOrvo.
const BarText barTexts[BARS_USED] = {
    {{{"  MEM", ""}, {" IN-ATT", ""}, {"   ANT", ""}, {"  TUNE", " "}, {"   SET", " "}, {"   VIEW ", " 1 "}},
     BAR_MARK_BUTTON1 | BAR_MARK_BUTTON6},
    {{{" BACK ", " "}, {" ", " "}, {"    UP", " "}, {"  DOWN", " "}, {" ", " "}, {"  ENTER", " "}}, 0},
    {{{" ", " "}, {" < ", " "}, {"   > ", " "}, {"      - ", " "}, {"     + ", " "}, {"  ENTER", " "}}, 0},
    {{{" BACK ", " "}, {" ", " "}, {"TUNE F", "  Off"}, {"  TUNE", " "}, {"   ATU", "Off"}, {"MANUAL", "Tune"}}, 0},
    {{{" BACK ", " "}, {" down L", " "}, {"   up L", " "}, {" down C", " "}, {"   up C", " "}, {"STARTTX", " "}},
     BAR_MARK_BUTTON1},
    {{{" ", " "}, {" ", " "}, {" ", " "}, {" ", " "}, {" Retry", " "}, {"Cancel", " "}}, 0},
    {{{" BACK", " "}, {" INTERF", " "}, {"    UP", " "}, {"  DOWN", " "}, {"   UTIL", " "}, {" ENTER", " "}}, 0},
    {{{"BACK", " "}, {"  <", " "}, {"    >", " "}, {"  + ", " "}, {" - ", " "}, {"SAVE", " "}}, 0},
    {{{"  ESC", " "}, {"  BANK", ""}, {"   ANT", ""}, {" ", " "}, {" ", " "}, {"   SAVE", " "}}, 0},
    {{{"BACK", " "}, {"  COPY", " "}, {"   RESET", " "}, {" ", " "}, {" ", " "}, {" ", " "}}, 0},
    {{{"BACK", " "}, {" ORIGIN", " "}, {"  DEST", " "}, {" ", " "}, {" ", " "}, {" START", "COPY"}}, 0},
    {{{"BACK", " "}, {" BANK", " "}, {" ", " "}, {" ", " "}, {" ", " "}, {" START", "RESET"}}, 0},
    {{{" ESC", " "}, {"    UP", " "}, {"  DOWN", " "}, {" ", " "}, {"Enable", " "}, {"Disable", " "}}, 0},
};

// Copies a label text, cut to the slot.
void copyLabel(char (&slot)[LABEL_SIZE], const char* text)
{
    const size_t n = strnlen(text, LABEL_SIZE - 1);
    std::memcpy(slot, text, n);
    slot[n] = '\0';
}

bool validLabel(int bar, int button, int line)
{
    return bar >= 0 && bar < BAR_SLOTS && button >= 1 && button <= BAR_BUTTONS && (line == 0 || line == 1);
}

} // namespace

void setBarLabel(int bar, int button, int line, const char* text)
{
    if (!validLabel(bar, button, line))
        return;
    std::lock_guard<std::mutex> lock(orvomenuMutex);
    copyLabel(Orvomenu[bar].label[button - 1][line], text);
}

ButtonBar barLabels(int bar)
{
    if (bar < 0 || bar >= BAR_SLOTS)
        return {};
    std::lock_guard<std::mutex> lock(orvomenuMutex);
    return Orvomenu[bar];
}

void InitMenuOrvo(Works* works)
{
    {
        std::lock_guard<std::mutex> lock(orvomenuMutex);
        for (int bar = 0; bar < BARS_USED; ++bar) {
            for (int button = 0; button < BAR_BUTTONS; ++button)
                for (int line = 0; line < 2; ++line)
                    copyLabel(Orvomenu[bar].label[button][line], barTexts[bar].text[button][line]);
            Orvomenu[bar].flags = barTexts[bar].flags;
        }
    }
    setLowerNumberLabel(BAR_MAIN, 1, "BANK ", works->numBanco);
    const int attenuator = works->attenuator;
    const int att = attenuator >= 0 && attenuator <= 4 ? attenuator : 0;
    char text[sizeof AttVectStr + 2];
    snprintf(text, sizeof text, "%sdB", AttVectStr[att]);
    setBarLabel(BAR_MAIN, 2, 1, text);
    setLowerNumberLabel(BAR_MAIN, 3, "", works->antenna + 1);
    setLowerNumberLabel(BAR_SAVE, 2, "   ", works->saveBank);
    setLowerNumberLabel(BAR_SAVE, 3, "     ", works->saveAnt + 1);
    // The error descriptors are filled before the first thread that can list an error
    // starts (InitErrorTable); filling them again here would drop the detail texts the
    // link has set during the loading countdown.
    works->menuCount = MENU_ITEMS;
}
