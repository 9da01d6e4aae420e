// The sets station software makes through the Hamlib ports, each on the front panel's path.
#include "remote/station_sets.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "config/antenna_table.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/log.h"

namespace {

bool ampTransmitting(const Works* works)
{
    return works->statoAmp[1] & 1;
}

} // namespace

uint32_t stationFrequency(const Works* works)
{
    const int32_t mode = works->interfaceMode;
    const uint32_t measured = works->freqMeasured;
    const uint32_t frequency = works->frequency;
    return mode == 0 && measured > 0 ? measured : frequency;
}

StationSet setStationStandby(Works* works, bool standby)
{
    if (standby) {
        if (ampTransmitting(works))
            return StationSet::Busy;
        works->attenuatorSel = 4;
        if (works->ampBypass == 0)
            IncPNTIn_CMDLinear(CMD_AMP_BYPASS, works);
    } else {
        works->attenuatorSel = works->attenuator.load();
        IncPNTIn_CMDLinear(CMD_ATTENUATOR, works);
        if (works->ampBypass == 1)
            IncPNTIn_CMDLinear(CMD_AMP_IN_LINE, works);
    }
    SaveToBank(works, works->numBanco, works->antenna);
    logErr("Hamlib: %s\n", standby ? "stand-by" : "operate");
    return StationSet::Done;
}

StationSet askStationFrequency(Works* works, uint32_t hz)
{
    if (hz < STATION_FREQ_MIN_HZ || hz > STATION_FREQ_MAX_HZ)
        return StationSet::OutOfRange;
    // Without the screen loop nothing follows the frequency: the set cannot be honoured.
    if (!thrTime.valid)
        return StationSet::Busy;
    works->frequencyAsked = hz;
    logErr("Hamlib: frequency %lu Hz asked\n", static_cast<unsigned long>(hz));
    return StationSet::Done;
}

void resetStationFaults(Works* works)
{
    logErr("Hamlib: fault reset\n");
    GPIO_Errori(works);
}
