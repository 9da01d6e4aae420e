#pragma once
// The climbing search ("AutoTuneTipo" '2'): one step per status reply, like the other
// searches. It measures the present setting and the tunes stored for neighbouring slots,
// probes both network sides coarsely, then walks down the SWR surface of the most promising
// side with a pattern search whose step halves from coarse to single relay steps; the other
// side gets its own walk when the first ends poorly. Readings close to the best are measured
// again, and the setting with the lowest mean wins: a bridge reads a few hundredths of SWR
// apart from one poll to the next near a match.
struct Works;

constexpr char TUNE_TIPO_CLIMB = '2';

// One step of the climbing search (states TUNE_START_CLIMB and above).
void climbSearch(Works* works);
