#pragma once
// Reading the amplifier link's wire log (wire_log.h) back: each frame with its command
// number and name, its fields decoded, its CRC checked and its time since the frame before.
// Used by the `wirelog` tool on any saved wire.log and by ampsim's web panel.
//
//   sim::WireDecoder decoder;
//   for (each line of wire.log)
//       if (auto f = decoder.line(line)) std::puts(sim::formatDecoded(*f).c_str());
#include "wire_log.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

enum class CrcState {
    Ok,        // the two digits are the CRC-8 of the text
    Mismatch,  // they are hex digits of another value
    LowerCase, // a reply with the right value in lower-case letters (the controller rejects it)
    Missing,   // no two hex digits in front of the text
};

struct DecodedFrame {
    double t = 0;
    bool toBoard = false;
    bool isNote = false;       // a simulator note ("# fault: ..."), not a frame
    std::string frame;         // as on the wire (printable form for the log)
    std::string keyword;       // the two letters ("ST"), "" when there are none
    std::vector<int> commands; // command numbers that send this text (a reply: its command's)
    std::string name;          // what the frame is ("status poll", "reply: status", "refused (?)")
    std::vector<std::pair<std::string, std::string>> fields;
    CrcState crc = CrcState::Missing;
    std::string crcExpected;   // the right digits ("4D" for a reply, "4d" for a command)
    double gapMs = -1;         // since the previous frame's first byte (-1 for the first)
    double replyMs = -1;       // a reply: since its command's first byte
    bool shapeOk = true;       // the text fits its command's layout
};

// One line of the log: a frame entry or a note ("<t> # text"). false for anything else.
bool parseWireLine(std::string_view line, WireEntry& entry, bool& isNote, std::string& noteText);
// The bytes of a frame from its printable form (\xHH and \\ undone).
std::string unprintable(std::string_view text);

// Decodes one frame on its own: CRC, keyword, command numbers, fields.
DecodedFrame decodeFrame(const WireEntry& entry);
const char* crcStateName(CrcState state);

// Decodes a log in order, adding the gaps between frames and each reply's time.
class WireDecoder {
public:
    // A line of the log; nothing for a line that is neither a frame nor a note.
    std::optional<DecodedFrame> line(std::string_view text);
    DecodedFrame entry(const WireEntry& entry);

private:
    double lastT_ = -1;
    double lastCommandT_ = -1;
    std::string lastKeyword_;
    std::vector<int> lastCommands_;
};

// One readable line: time, gap, direction, frame, CRC state, name, fields.
std::string formatDecoded(const DecodedFrame& frame);

} // namespace sim
