#pragma once
// Control lines of the simulated transceivers (see control.h for the file they come from):
//
//   trx maker|ft817|none       which transceiver is plugged into dev/ttyUSB1
//   trx unplug | trx plug      dev/ttyUSB1's USB adapter pulled (the line hangs up and the
//                              name goes) or plugged back in (a new line under the same name)
//   trx cut                    the maker's transceiver stops in the middle of its next
//                              message and stays silent (trx resume: it streams again)
//   trx vfo A|B|M              the maker's transceiver's active VFO (or memory channel)
//   trx freq [A|B|M] HZ        a VFO's frequency (without a letter: the active one)
//   trx mode N                 its receive mode (0..15)
//   trx tx on|off              the operator keys it (drive power keyWatts) or lets go
//   trx an 0|1                 the amplifier "AN" state it asks for
//   trx power WATTS            drive power of its carriers (keyed and tune)
//   trx rate PARAMS SPECTRA    parameter frames and spectrum lines a second (0: none)
//   trx tone OFFSET_HZ DB      one tone in its spectrum, relative to the operating frequency
//   trx tone off
//   ft817 freq HZ              the FT-817's frequency
//   ft817 reply normal|silence|garbage|short|late
//                              late: 2 bytes of each reply at once, the other 3 two seconds
//                              later (after the controller's time-out)
//   cat unplug | cat plug      dev/DODUVOV0's adapter pulled or plugged back in
//   cat answer TEXT            the CAT port's answer to "DT;" (default DT001;)
//   cat silent on|off          the CAT port answers nothing
//   cat echo on|off            commands without an answer of their own are echoed (default on)
//   cat reply CMD PIECE...     the answer to "CMD;", written piece by piece 50 ms apart
//                              (cat reply FA FA000 14070 000; answers "FA;" in three writes);
//                              without pieces the command is echoed again
//   cat send PIECE...          the CAT port writes these pieces unasked, 50 ms apart
#include <string>
#include <vector>

namespace sim {

class TransceiverPorts;

bool isTransceiverCommand(const std::string& word);
// Applies one line split into words; "" when done, else what is wrong.
std::string applyTransceiverLine(TransceiverPorts& ports, const std::vector<std::string>& words);

} // namespace sim
