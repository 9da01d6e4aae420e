// The status text sent to the remote peer.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "amplifier/thermal.h"
#include "config/antenna_table.h"
#include "core/works.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

void CreaBufferDiStato(Works* works, char* out, size_t outSize)
{
    const int row = antennaRowOf(works, works->frequency);
    const std::array<AntennaRow, ANT_ROWS> table = antennaTableCopy(works);
    const char* band = row >= 0 ? table[static_cast<size_t>(row)].band : "----";
    char mode = works->interfaceMode == 1 ? '1' : works->interfaceMode == 2 ? '2' : '0';
    char tuner = (works->tuneEnabled & 0x80) ? 'N' : works->atuBypass ? 'B' : 'T';
    std::vector<int> errors = errorListCopy(works);
    char lastError = errors.empty() ? '0' : static_cast<char>(errors.back() + 1);
    snprintf(out, outSize, "%-4.4s%c%c%c%c%c%c%06.02f%06.2f%06.02f%04.01f%4.1f%04.01f%02d%c00000000;", band, mode,
             '0' + (works->attenuator % 10), '0' + (works->antenna % 10), works->ampBypass ? '1' : '0', tuner,
             works->tuneStatus != 0 ? '1' : '0', works->swr.load(), works->pwrFwd.load(), works->pwrIn.load(),
             std::max(works->temp1.load(), works->temp2.load()), CalvTensVadcAmp(works, works->supply[3]),
             works->rawCurrent * 14.05 / 4096, works->numBanco.load(), lastError);
}
