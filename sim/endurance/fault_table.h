#pragma once
// The faults the campaign injects, one row each. A row names how the fault starts and ends
// (control lines of the simulated unit, sim/control.h, or an action of the remote peer),
// how long it lasts, and what recovery proves it handled:
//   LinkPolls      the amplifier link polls again (a command and the board's reply on the
//                  wire) within 2 s of the fault's end
//   ErrorKey       the listed errors are raised while the device is gone, and after it is
//                  back the error key clears them
//   StreamForwards the transceiver's parameter frames reach the peer again
//   PeerServed     the peer is served again (logged in, status frames coming)
//   PeerClosed     the unit closes a connection the peer half-closed, then serves again
// A new kind of fault is one more row.
#include <string>
#include <vector>

namespace endurance {

enum class Recovery { LinkPolls, ErrorKey, StreamForwards, PeerServed, PeerClosed };
enum class PeerAction { None, Stall, HalfClose, Drop };

struct FaultKind {
    std::string name;
    Recovery recovery;
    std::string start, end;      // control lines, "" for none
    PeerAction peer = PeerAction::None;
    std::vector<int> errors;     // ErrorKey: the codes the loss raises
    double minHold = 1, maxHold = 4; // seconds the fault lasts
};

const std::vector<FaultKind>& faultKinds();

} // namespace endurance
