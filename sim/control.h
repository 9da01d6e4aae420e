#pragma once
// Run-time control of the simulated unit from outside the process: ampsim reads the file
// <root>/sim/control (every 0.2 s; the file is removed once read), one command a line, so
// that a person at a running unit can change readings and inject faults:
//
//   echo "fault silence count 4 command FM" > simroot/sim/control
//
//   reading NAME VALUE    rawIn rawFwd rawRefl rawCurrent rawTherm1 rawTherm2 rawPeakFwd
//                         (decimal), transmitting swrTrip (0/1), fault byte0 byte1
//                         (status byte 2, extra bits of bytes 0 and 1; decimal or 0x..)
//   frequency HZ          the frequency counter ("FM")
//   fault KIND [ARG...] [count N] [command KW]
//                         KIND: silence | refuse C | wrongcrc | lowercrc | keyword KW |
//                               split PARTS PAUSE_MS | garbage TEXT
//                         count: replies affected (default 1, negative: until cleared)
//   clear-faults
//   pace on|off
//   delay MS              the board's own time before each reply
//   power-cycle           settings back to power-up (reset flag set)
// With the physical board (ampsim's default):
//   drive WATTS           drive power from the transceiver (0: no carrier)
//   load dipole|vertical|endfed   an antenna seen through the tuner
//   load outputs          each antenna output its own antenna through the tuner (1 the
//                         dipole, 2 the vertical, 3 the end-fed wire)
//   load swr X            a plain load of that SWR whatever the tuner does
//   ambient CELSIUS       room temperature
//   timescale S           simulated seconds per real second for the temperatures
//   temperature T1 T2     heat sink and board temperatures now (they go on from there)
//   fan auto|PERCENT      the fan's real speed whatever is commanded (0: failed), or auto
//   physics on|off        readings from the physics, or only from "reading" lines
// The front panel:
//   press K               short press of button K (1..6): pin low for 100 ms, then released
//   hold K MS             button K held MS milliseconds ("hold 1 800" or "hold 1 800ms")
//                         (presses and holds follow each other, 100 ms apart)
//   button K down|up      the pin of button K alone, at once (down stays until up)
//   key NAME              a USB-keyboard key pressed and released: F10, F11, F12, SYSRQ
//                         (Print Screen) or a decimal Linux key code
// The transceivers: "trx ...", "ft817 ...", "cat ..." (see transceiver_control.h), among
// them the serial faults: "trx unplug" / "trx plug" and "cat unplug" / "cat plug" (a USB
// serial adapter pulled and plugged back in), "trx cut" (a stream stopped mid-message),
// "ft817 reply late". Each port refuses wrong line settings (line_settings.h).
// The USB sound interface (sound_card.h):
//   soundcard present|absent   the card plugged in or pulled out (its lsusb line and its
//                              device in sys/bus/usb/devices)
//   audio tone HZ [AMPLITUDE]  the capture side records a sine (amplitude of 32767, 8000)
//   audio silence | audio file PATH (raw 16-bit, looped) | audio channels 1|2
// The USB receiver ("usb ...", listed in usb_receiver/receiver_model.h):
//   usb tone 12000 -40    a tone 12 kHz above the centre at -40 dB full scale
//   usb unplug            the receiver leaves the bus (usb plug brings it back)
// Lines starting with "#" and blank lines are skipped.
#include "amp_board.h"
#include "board_physics.h"
#include "front_panel.h"
#include "transceiver_ports.h"
#include "sound_card.h"
#include "usb_receiver/receiver_model.h"

#include <string>
#include <string_view>

namespace sim {

// What the lines act on; a line whose target is missing is refused.
struct ControlTargets {
    AmpBoard* board = nullptr;
    BoardPhysics* physics = nullptr; // the board's physical model, nullptr when it has none
    FrontPanel* panel = nullptr;
    TransceiverPorts* transceivers = nullptr;
    SoundCard* sound = nullptr;
    UsbReceiver* usb = nullptr;
};

// Applies one line; returns "" on success, else what is wrong with it.
std::string applyControlLine(const ControlTargets& targets, std::string_view line);
// Applies every line of the text; returns the error messages, one a line.
std::string applyControlText(const ControlTargets& targets, std::string_view text);
// The same for the board alone.
std::string applyControlLine(AmpBoard& board, std::string_view line, BoardPhysics* physics = nullptr);
std::string applyControlText(AmpBoard& board, std::string_view text, BoardPhysics* physics = nullptr);

} // namespace sim
