#include "fault_table.h"

namespace endurance {

const std::vector<FaultKind>& faultKinds()
{
    static const std::vector<FaultKind> kinds = {
        // The amplifier board's faults, on every reply until cleared.
        {"board-silence", Recovery::LinkPolls, "fault silence count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        {"board-garbage", Recovery::LinkPolls, "fault garbage #~% count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        {"board-wrongcrc", Recovery::LinkPolls, "fault wrongcrc count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        {"board-lowercrc", Recovery::LinkPolls, "fault lowercrc count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        {"board-refusal", Recovery::LinkPolls, "fault refuse ? count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        {"board-keyword", Recovery::LinkPolls, "fault keyword ZZ count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        {"board-split", Recovery::LinkPolls, "fault split 4 30 count -1", "clear-faults", PeerAction::None, {}, 0.5, 4},
        // Devices leaving the bus and coming back.
        {"usb-receiver-unplug", Recovery::ErrorKey, "usb unplug", "usb plug", PeerAction::None, {5}, 2, 6},
        {"soundcard-absent", Recovery::ErrorKey, "soundcard absent", "soundcard present", PeerAction::None, {9, 10}, 2, 6},
        // The maker's transceiver stops streaming.
        {"transceiver-stream-stop", Recovery::StreamForwards, "trx rate 0 0", "trx rate 10 10", PeerAction::None, {}, 1, 5},
        // Serial adapters pulled out and put back: the transceiver link and the CAT port.
        {"transceiver-port-hangup", Recovery::ErrorKey, "trx unplug", "trx plug", PeerAction::None, {8}, 2, 6},
        {"cat-port-hangup", Recovery::ErrorKey, "cat unplug", "cat plug", PeerAction::None, {20}, 2, 6},
        // The transceiver stops in the middle of a message, then streams again.
        {"transceiver-cut-mid-frame", Recovery::StreamForwards, "trx cut", "trx resume", PeerAction::None, {}, 1, 5},
        // The remote peer.
        {"peer-stall", Recovery::PeerServed, "", "", PeerAction::Stall, {}, 2, 8},
        {"peer-half-close", Recovery::PeerClosed, "", "", PeerAction::HalfClose, {}, 0, 0},
        {"peer-reconnect", Recovery::PeerServed, "", "", PeerAction::Drop, {}, 0, 0},
    };
    return kinds;
}

} // namespace endurance
