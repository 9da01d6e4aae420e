#include "config/factory_reset.h"

#include "config/antenna_table.h"
#include "config/banks.h"
#include "core/setup.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "platform/shell.h"
#include "tuner/tuner_files.h"

#include <functional>
#include <string>
#include <vector>

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

namespace {

// The state of the running unit that the default settings would otherwise wipe: the
// factory default resets the settings, not the connections, the board's identity and what
// follows from it (the forward meter's scale), or the view on the screen and its geometry.
class LiveState {
public:
    explicit LiveState(Works* w)
    {
        keep(w->running);
        keep(w->fatalError);
        for (auto* field : {&w->wsSock, &w->screenPage, &w->spanHz, &w->thresholdRow, &w->tsPar[0], &w->tsPar[1],
                            &w->tsPar[2], &w->tsPar[3]})
            keep(*field);
        for (auto* field : {&w->frequency, &w->lastFrequency, &w->tuneval})
            keep(*field);
        for (auto* field : {&w->cpFlag, &w->ampModel, &w->ampEE2a, &w->tinyCmdActive, &w->ampBypass, &w->atuBypass})
            keep(*field);
        keep(number_ofStep_meter_FWD);
    }
    void restore() const
    {
        for (const auto& put : restorers_)
            put();
    }

private:
    template <typename Atomic> void keep(Atomic& field)
    {
        const auto value = field.load();
        restorers_.push_back([&field, value] { field.store(value); });
    }
    std::vector<std::function<void()>> restorers_;
};

} // namespace

void FactoryDefault(Works* works, uint8_t* confirm)
{
    if (!confirm || !*confirm)
        return;
    for (int b = 0; b < BANKS_ON_DISK; ++b)
        for (int kind = 0; kind < BANK_FILE_KINDS; ++kind)
            DeleteFileConf(works, b, kind);
    const LiveState live(works);
    // The values in works are what writeSetup writes: they go back to a new unit's first,
    // or the defaults written would be the present settings.
    clearSetupValues(works);
    initSetup(works);
    writeSetup(works);
    readSetup(works);
    live.restore();
    // The default bank is loaded from its (deleted) files, so the unit never goes on with
    // the old bank's table under the new bank's number; its row is applied again.
    LoadAllBankTable(works, works->numBanco);
    works->antennaRowIdx = -1;
    *confirm = 0;
}
