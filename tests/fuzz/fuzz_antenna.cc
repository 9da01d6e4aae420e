// Fuzzes the antenna table reader and the application of a row to the amplifier: the table
// never holds more rows than it has, names stay terminated, the per-band settings stay in
// range, and what a row sets on the amplifier is an antenna output and attenuator step
// that exist.
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "fuzz_support.h"

#include <cstring>
#include <vector>

namespace {

void checkTable(const Works& works, int mode)
{
    if (mode < 0 || mode > 2)
        fuzz::fail("interface mode %d", mode);
    if (works.antennaRows < 0 || works.antennaRows > ANT_ROWS)
        fuzz::fail("%d antenna rows", works.antennaRows.load());
    for (int i = 0; i < ANT_ROWS; ++i) {
        const AntennaRow& r = works.antennaTable[i];
        if (memchr(r.band, '\0', sizeof r.band) == nullptr)
            fuzz::fail("row %d: band name without its terminating zero", i);
        if (i >= works.antennaRows)
            continue;
        if (r.ampEnable > 1 || r.atuBypass > 1 || r.ant > 3 || r.att > 3)
            fuzz::fail("row %d: amp %u antenna %u bypass %u attenuator %u", i, r.ampEnable, r.ant, r.atuBypass,
                       r.att);
    }
}

void applyAt(Works* works, uint32_t frequency)
{
    works->frequency = frequency;
    const int row = antennaRowOf(works, frequency);
    if (row >= works->antennaRows)
        fuzz::fail("row %d of %d", row, works->antennaRows.load());
    if (row >= 0) {
        const AntennaRow& r = works->antennaTable[row];
        if (!(r.freqStart <= static_cast<int64_t>(frequency) && static_cast<int64_t>(frequency) <= r.freqStop))
            fuzz::fail("row %d (%d .. %d) chosen for %u", row, r.freqStart, r.freqStop, frequency);
    }
    GestioneAntennaAutomatica(works);
    if (works->antenna < 0 || works->antenna > 2)
        fuzz::fail("antenna output %d set from the table", works->antenna.load());
    if (works->attenuator < 0 || works->attenuator > 3)
        fuzz::fail("attenuator step %d set from the table", works->attenuator.load());
    // The queue only matters while the link runs; keep it from filling over the calls.
    while (takeQueuedCmd(works) >= 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::writeSettings("opt/set/antenna.txt", data, size);
    auto works = fuzz::freshWorks();
    const int mode = LoadTabConfig(works.get(), 0);
    checkTable(*works, mode);

    std::vector<uint32_t> frequencies = {0u, 1850000u, 14070000u, 0x7FFFFFFFu, 0xFFFFFFFFu};
    for (int i = 0; i < works->antennaRows; ++i)
        for (int32_t edge : {works->antennaTable[i].freqStart, works->antennaTable[i].freqStop})
            frequencies.push_back(static_cast<uint32_t>(edge));
    for (uint32_t f : frequencies)
        applyAt(works.get(), f);
    return 0;
}
