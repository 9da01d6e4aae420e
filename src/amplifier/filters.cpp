#include "amplifier/filters.h"

#include "amplifier/link.h"
#include "amplifier/table_file.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"

#include <cstdio>

namespace {
constexpr const char* FILTER_PATH = "/opt/set/filter.txt";
constexpr size_t FILTER_LINE_MAX = 511;
constexpr const char* FILTER_HEADER =
    ";Fstart(hz)\tFstop         enabled   : 1= abilitata, l'ordine delle righe corrisponde al filtro di "
    "attivazione   j23 ultimo by pass (0 ,54000000)  verso esterno\n";
} // namespace

void LoadTabFiltri(Works* works)
{
    for (FilterRow& row : works->filterTable)
        row.enabled = 0;
    std::vector<std::string> lines;
    if (!readTableLines(FILTER_PATH, FILTER_LINE_MAX, lines)) {
        logErr("Filter File not FOUND!!\n");
        return;
    }
    int index = 0;
    for (const std::string& line : lines) {
        if (index >= FILTER_ROWS)
            break;
        if (isCommentLine(line))
            continue;
        NumberCursor in(line);
        FilterRow& row = works->filterTable[index];
        row.freqStart = in.nextUnsigned();
        row.freqStop = in.nextUnsigned();
        row.enabled = static_cast<uint8_t>(in.nextInt());
        logErr("Filter %i %lu,%lu,%x\n", index, static_cast<unsigned long>(row.freqStart),
               static_cast<unsigned long>(row.freqStop), row.enabled.load());
        index++;
    }
}

std::string filterFileText(const Works* works)
{
    std::string text = FILTER_HEADER;
    char line[80];
    for (const FilterRow& row : works->filterTable) {
        // Unsigned as read: a band edge above 2^31 Hz must come back the same on a 32-bit board.
        snprintf(line, sizeof line, "%lu\t\t%lu\t\t%i \n", static_cast<unsigned long>(row.freqStart),
                 static_cast<unsigned long>(row.freqStop), row.enabled.load());
        text += line;
    }
    return text;
}

void SaveTabFiltri(Works* works)
{
    logErr("SaveTabFiltri \n");
    int result = writeSettingsFile(FILTER_PATH, filterFileText(works));
    if (result == SETTINGS_OPEN_FAILED)
        logErr("SaveTabFiltri: can't write %s\n", FILTER_PATH);
}

void SetFilterFromfreq(Works* works)
{
    for (int i = 1; i <= FILTER_ROWS; i++) {
        const FilterRow& row = works->filterTable[i - 1];
        if (row.enabled != 1 || row.freqStart > works->frequency || works->frequency > row.freqStop)
            continue;
        const int mask = (1 << (i - 1)) & 0xFF;
        if (mask == works->sfValue)
            return;
        works->sfValue = mask;
        IncPNTIn_CMDLinear(28, works);
        logErr(">>>>>>>>>>>>>>> SET FILTER: %i!!\n", i);
        return;
    }
}

void EnDisFilter(Works* works, int enabled)
{
    if (works->filterIdx < 0 || works->filterIdx >= FILTER_ROWS) {
        logErr("EnDisFilter: no filter row %d\n", works->filterIdx.load());
        return;
    }
    works->filterTable[works->filterIdx].enabled = static_cast<uint8_t>(enabled);
    SetFilterFromfreq(works);
    SaveTabFiltri(works);
}
