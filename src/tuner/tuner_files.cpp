#include "tuner/tuner_files.h"

#include "config/settings_lines.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "tuner/tune_memory.h"
#include "tuner/tune_word.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr size_t atuLineLength = 512;

// Reads the next decimal number of a line; false when there is none.
bool nextNumber(const char*& p, long& value)
{
    char* end = nullptr;
    value = strtol(p, &end, 10);
    if (end == p)
        return false;
    p = end;
    return true;
}

// A tune the tuner can be set to: present 0 or 1, network mode 0..3, inductance and
// capacitance 0..511 (9 bits each). Anything else would reach the board cut to its bits.
bool tuneInRange(long present, long modo, long induttanza, long capacita)
{
    constexpr long STEPS = 512;
    return present >= 0 && present <= 1 && modo >= 0 && modo <= TUNE_MODE_BYPASS && induttanza >= 0 &&
           induttanza < STEPS && capacita >= 0 && capacita < STEPS;
}

} // namespace

std::string atuFileName(int bank, int antenna)
{
    const int number = antenna == 0 || antenna == 1 ? antenna + 1 : 3;
    char name[64];
    if (bank >= 1 && bank <= 19)
        snprintf(name, sizeof name, "/opt/set/atu_ant%d_b%d.txt", number, bank);
    else
        snprintf(name, sizeof name, "/opt/set/atu_ant%d.txt", number);
    return name;
}

void LoadTabAtu(Works* works, int bank, int antenna)
{
    std::lock_guard<std::mutex> lock(works->tuneMemMutex);
    TuneMemEntry* memory = tuneMemoryOf(works, antenna);
    std::fill(memory, memory + TUNE_SLOTS, TuneMemEntry{});
    int dataLines = 0;
    forEachSettingsLine(atuFileName(bank, antenna), atuLineLength, [&](std::string_view line) {
        if (!line.empty() && line[0] == ';')
            return true;
        if (dataLines >= TUNE_SLOTS)
            return false;
        ++dataLines;
        const std::string text(line);
        const char* p = text.c_str();
        long slot = 0;
        if (!nextNumber(p, slot) || slot < 0 || slot >= TUNE_SLOTS) {
            logErr("LoadTabAtu Errore idx\n");
            printf("LoadTabAtu Errore idx");
            fflush(stdout);
            return true;
        }
        long fields[5] = {};  // frequency (not used: the slot places the entry), present, modo, L, C
        for (long& f : fields)
            if (!nextNumber(p, f))
                break;
        if (!tuneInRange(fields[1], fields[2], fields[3], fields[4])) {
            logErr("LoadTabAtu: tune out of range refused: %s\n", text.c_str());
            return true;
        }
        TuneMemEntry& e = memory[slot];
        e.present = static_cast<uint8_t>(fields[1]);
        e.modo = static_cast<uint8_t>(fields[2]);
        e.induttanza = static_cast<uint16_t>(fields[3]);
        e.capacita = static_cast<uint16_t>(fields[4]);
        return true;
    });
}

void SaveTabAtu(Works* works, int bank, int antenna)
{
    logErr("SaveTabAtu Bank%i , antenna %i\n", bank, antenna);
    std::lock_guard<std::mutex> lock(works->tuneMemMutex);
    const TuneMemEntry* memory = tuneMemoryOf(works, antenna);
    std::string content;
    char line[96];
    for (int slot = 0; slot < TUNE_SLOTS; ++slot) {
        const TuneMemEntry& e = memory[slot];
        if (!e.present)
            continue;
        snprintf(line, sizeof line, "%i %ld %i %i %i %i\n", slot, static_cast<long>(AtuFreqfromIdx(slot)), e.present,
                 e.modo, e.induttanza, e.capacita);
        content += line;
    }
    const std::string name = atuFileName(bank, antenna);
    if (writeSettingsFile(name, content) == SETTINGS_OPEN_FAILED)
        logSys(LOG_ERR, "can't write tuner file %s", name.c_str());
}
