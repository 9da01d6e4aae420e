// Keys of the bank and interface table page, its table edit, and the utilities, copy and
// reset bars.
#include "ui/dispatch_bars.h"

#include "config/antenna_table.h"
#include "config/banks.h"
#include "config/factory_reset.h"
#include "core/works.h"
#include "tuner/tuner_files.h"
#include "ui/dispatch.h"
#include "ui/labels.h"
#include "ui/layout.h"
#include "ui/menu.h"

namespace bars {
namespace {

int tableBack(Works* works, int)
{
    closeTablePage(works);
    goBar(works, BAR_MAIN);
    return 0;
}

int tableInterface(Works* works, int)
{
    ChangeInterfaceBanco(works);
    return 0;
}

int tableRowUp(Works* works, int)
{
    const int last = works->antennaRows > 0 ? works->antennaRows - 1 : 0;
    const int row = works->tabRow - 1;
    works->tabRow = row < 0 ? last : row;
    return 0;
}

int tableRowDown(Works* works, int)
{
    const int last = works->antennaRows > 0 ? works->antennaRows - 1 : 0;
    works->tabRow = nextWrapped(works->tabRow, last);
    return 0;
}

int tableUtilities(Works* works, int)
{
    goBar(works, BAR_UTILITIES);
    return 0;
}

int tableEdit(Works* works, int)
{
    works->tabCol = 0;
    goBar(works, BAR_TABLE_EDIT);
    return 0;
}

int editBack(Works* works, int)
{
    // The edits are dropped: the bank's table is read again.
    LoadTabConfig(works, works->numBanco);
    works->tabCol = -1;
    backToTable(works);
    return 0;
}

int editColumnLeft(Works* works, int)
{
    works->tabCol = works->tabCol - 1 < 0 ? 4 : works->tabCol - 1;
    return 0;
}

int editColumnRight(Works* works, int)
{
    works->tabCol = nextWrapped(works->tabCol, 4);
    return 0;
}

int editCellUp(Works* works, int)
{
    ModifytabAntenna(works, 0);
    return 0;
}

int editCellDown(Works* works, int)
{
    ModifytabAntenna(works, 1);
    return 0;
}

int editSave(Works* works, int)
{
    SaveTabConfig(works, works->numBanco);
    return 0;
}

int utilitiesBack(Works* works, int)
{
    backToTable(works);
    return 0;
}

int utilitiesCopy(Works* works, int)
{
    works->copyFrom = works->numBanco;
    goBar(works, BAR_COPY);
    return 0;
}

int utilitiesReset(Works* works, int)
{
    works->resetBank = works->numBanco;
    goBar(works, BAR_RESET);
    return 0;
}

int toTable(Works* works, int)
{
    goBar(works, BAR_INTERFACE);
    return 0;
}

int copyNextFrom(Works* works, int)
{
    works->copyFrom = nextWrapped(works->copyFrom, works->maxBank - 1);
    return 0;
}

int copyNextTo(Works* works, int)
{
    works->copyTo = nextWrapped(works->copyTo, works->maxBank - 1);
    return 0;
}

// The tuner tables and band table of one bank saved as another's. The current bank's own
// tables are read back afterwards, so the unit never goes on with the source's tables
// under the current bank's number (its next save would overwrite the current bank).
int copyStart(Works* works, int)
{
    const int from = works->copyFrom;
    const int to = works->copyTo;
    for (int antenna = 0; antenna < 3; ++antenna)
        LoadTabAtu(works, from, antenna);
    LoadTabConfig(works, from);
    for (int antenna = 0; antenna < 3; ++antenna)
        SaveTabAtu(works, to, antenna);
    SaveTabConfig(works, to);
    LoadTabConfig(works, works->numBanco);
    for (int antenna = 0; antenna < 3; ++antenna)
        LoadTabAtu(works, works->numBanco, antenna);
    goBar(works, BAR_INTERFACE);
    return 0;
}

int resetNextBank(Works* works, int)
{
    works->resetBank = nextWrapped(works->resetBank, works->maxBank);
    return 0;
}

int resetStart(Works* works, int)
{
    ResetBankFiles(works, works->resetBank);
    goBar(works, BAR_INTERFACE);
    return 0;
}

} // namespace

void openTablePage(Works* works)
{
    works->statusView |= 2;
    setBackground(works, "statusB");
    goBar(works, BAR_INTERFACE);
    LblMenuAntenna(works);
}

void closeTablePage(Works* works)
{
    works->statusView &= static_cast<uint8_t>(~2u);
    SetWorkImg(works);
}

void backToTable(Works* works)
{
    goBar(works, BAR_INTERFACE);
    LblMenuAntenna(works);
}

// Bar 6, bank and interface table.
const KeyCell tableKeys[BAR_BUTTONS] = {
    {"back", tableBack}, {"interface", tableInterface}, {"row up", tableRowUp}, {"row down", tableRowDown},
    {"utilities", tableUtilities}, {"edit table", tableEdit}
};

// Bar 7, table edit.
const KeyCell tableEditKeys[BAR_BUTTONS] = {
    {"drop edits", editBack}, {"column left", editColumnLeft}, {"column right", editColumnRight},
    {"cell up", editCellUp}, {"cell down", editCellDown}, {"save table", editSave}
};

// Bar 9, utilities.
const KeyCell utilitiesKeys[BAR_BUTTONS] = {
    {"back", utilitiesBack}, {"copy bar", utilitiesCopy}, {"reset bar", utilitiesReset}, NONE, NONE, NONE
};

// Bar 10, copy.
const KeyCell copyKeys[BAR_BUTTONS] = {
    {"back", toTable}, {"origin", copyNextFrom}, {"destination", copyNextTo}, NONE, NONE, {"copy", copyStart}
};

// Bar 11, reset.
const KeyCell resetKeys[BAR_BUTTONS] = {
    {"back", toTable}, {"bank", resetNextBank}, NONE, NONE, NONE, {"reset", resetStart}
};

} // namespace bars
