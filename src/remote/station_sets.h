#pragma once
// What station software may read and change through the Hamlib ports, shared by both
// command sets: the frequency in use, and the sets, each through the path the front panel's
// keys take, so that a remote change and a key press cannot disagree.
#include <cstdint>

struct Works;

enum class StationSet {
    Done,
    Busy,         // refused: the amplifier transmits, or the screen loop does not run
    OutOfRange,   // a frequency the unit does not cover
};

// Frequencies a set may ask for: the HF and 6 m range the unit covers, with margin.
constexpr uint32_t STATION_FREQ_MIN_HZ = 100000;
constexpr uint32_t STATION_FREQ_MAX_HZ = 60000000;

// The frequency in use: in Generic mode the amplifier's own counter (once it has measured
// a carrier), else the frequency taken from the transceiver.
uint32_t stationFrequency(const Works* works);
// The amplifier in line (operate) or bypassed (stand-by), as the attenuator key's steps do:
// stand-by is not taken while the amplifier transmits.
StationSet setStationStandby(Works* works, bool standby);
// Asks the screen loop, the thread that owns the band change, to move to the frequency's
// band on its next frame (the way the front panel's keys hand over their requests).
StationSet askStationFrequency(Works* works, uint32_t hz);
// The error key's fault reset.
void resetStationFaults(Works* works);
