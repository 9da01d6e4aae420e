#pragma once
// The climbing search ("AutoTuneTipo" '2'): one step per status reply, like the other
// searches. It measures the present setting and the tunes stored for neighbouring slots,
// probes both network sides coarsely, then walks the valley of the more promising side: it
// moves the relay bank that sets the network's resistance and, after each move, finds the
// best of the other bank with a line search; each bracketed minimum is narrowed with a
// parabola. The other side gets its own walk when the first ends above SWR 1.05, and a third
// seed one when both end above 1.5; a valley whose best reads above 1.5 gets more parabola
// refinements and, while still going down, measurements past the usual walk budget. The single-step neighbours of the best are looked at
// last; readings close to the best are measured again and the setting with the lowest mean
// wins: a bridge reads a few hundredths of SWR apart from one poll to the next near a match.
// It needs no knowledge of the relays' values: it learns the valley's slope as it goes.
struct Works;

constexpr char TUNE_TIPO_CLIMB = '2';

// One step of the climbing search (states TUNE_START_CLIMB and above).
void climbSearch(Works* works);
