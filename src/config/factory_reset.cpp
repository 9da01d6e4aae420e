#include "config/factory_reset.h"

#include "config/antenna_table.h"
#include "config/banks.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "platform/shell.h"
#include "tuner/tuner_files.h"

#include <string>

void DeleteFileConf(Works* works, int bank, int kind)
{
    (void)works;
    if (bank < 0 || bank >= BANKS_ON_DISK || kind < 0 || kind >= BANK_FILE_KINDS) {
        logErr("DeleteFileConf: no file for bank %d kind %d\n", bank, kind);
        return;
    }
    if (remountRw() != 0)
        return;
    const std::string name = kind == 3 ? antennaFileName(bank) : atuFileName(bank, kind);
    if (runShell("rm -f " + name) != 0)
        logSys(LOG_ERR, "can't delete file bank %d", bank);
    remountRo();
}

void ResetBankFiles(Works* works, int bank)
{
    const bool all = bank == works->maxBank;
    const int first = all ? 0 : bank;
    const int last = all ? works->maxBank - 1 : bank;
    for (int b = first; b <= last; ++b)
        for (int kind = 0; kind < BANK_FILE_KINDS; ++kind)
            DeleteFileConf(works, b, kind);
    LoadAllBankTable(works, works->numBanco);
    works->antennaRowIdx = -1;
}

void FactoryDefault(Works* works, uint8_t* confirm)
{
    if (!confirm || !*confirm)
        return;
    for (int b = 0; b < BANKS_ON_DISK; ++b)
        for (int kind = 0; kind < BANK_FILE_KINDS; ++kind)
            DeleteFileConf(works, b, kind);
    // The values in works are what writeSetup writes: they go back to a new unit's first,
    // or the defaults written would be the present settings.
    clearSetupValues(works);
    initSetup(works);
    writeSetup(works);
    readSetup(works);
    *confirm = 0;
}
