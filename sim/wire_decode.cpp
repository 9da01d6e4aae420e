#include "wire_decode.h"

#include "amplifier/crc8.h"
#include "tuner/tune_word.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

namespace sim {

namespace {

// A fixed-width field of a frame's text: 'd' decimal digits, 'x' hex digits, 'b' one
// digit 0/1 shown as off/on, 't' any characters but ';', '*' whatever is left.
struct Field {
    const char* name;
    int width;
    char kind;
};

// One layout of the link's texts: keyword, fixed characters after it, the fields, the
// command numbers that send it and what it is. Replies that echo their command share the
// command's layout.
struct Layout {
    const char* keyword;
    const char* literal;
    std::array<Field, 4> fields;
    std::array<int, 4> numbers;
    int count;
    const char* name;
};

constexpr Field d4(const char* n) { return {n, 4, 'd'}; }

// What the controller sends (command numbers as its link queues them).
const Layout kCommands[] = {
    {"VS", "M", {}, {0}, 1, "firmware version query"},
    {"ST", "", {}, {1}, 1, "status poll"},
    {"SA", "", {Field{"antenna", 1, 'd'}}, {7}, 1, "antenna output"},
    {"FM", "", {}, {8}, 1, "frequency count poll"},
    {"FA", "", {Field{"hz", 11, 'd'}}, {9}, 1, "frequency"},
    {"MT", "", {}, {10}, 1, "tuner query"},
    {"MT", "1", {Field{"word", 8, 'x'}}, {11, 27, 39, 40}, 4, "tune word"},
    {"FS", "", {Field{"input", 1, 'd'}, Field{"period", 4, 'd'}}, {12}, 1, "frequency counter set-up"},
    {"CP", "FFFF", {}, {13}, 1, "clear protection"},
    {"AT", "", {Field{"3dB", 1, 'b'}, Field{"2dB", 1, 'b'}}, {14, 15, 16}, 3, "attenuator"},
    {"MP", "0", {}, {17}, 1, "protection off"},
    {"MP", "1", {}, {18}, 1, "protection on"},
    {"AB", "0", {}, {19}, 1, "amplifier in line"},
    {"AB", "1", {}, {20}, 1, "amplifier bypassed"},
    {"AN", "", {Field{"state", 1, 'd'}}, {21}, 1, "AN state"},
    {"TS", "", {d4("t1"), d4("t2"), d4("t3"), d4("t4")}, {22}, 1, "band thresholds"},
    {"FN", "1", {Field{"percent", 3, 'd'}}, {23, 41}, 2, "fan speed"},
    {"PS", "", {d4("p1"), d4("p2"), d4("p3"), d4("p4")}, {24}, 1, "protection parameters"},
    {"SF", "30000", {Field{"value", 2, 'x'}}, {28}, 1, "relay drive"},
    {"MR", "1", {}, {30}, 1, "firmware update mode"},
    {"MR", "0", {}, {32}, 1, "reset flag clear"},
    {"GM", "", {d4("p1"), d4("p2")}, {33}, 1, "generic mode"},
    {"GS", "", {}, {34}, 1, "general settings query"},
    {"GS", "", {Field{"settings", 10, 't'}}, {35}, 1, "general settings"},
    {"ER", "0000", {}, {36}, 1, "identity block 0"},
    {"ER", "0001", {}, {37}, 1, "identity block 1"},
    {"ER", "0002", {}, {38}, 1, "identity block 2"},
};

// Replies whose layout differs from their command's.
const Layout kReplies[] = {
    {"ST", "", {}, {1}, 1, "status"},
    {"VS", "M", {Field{"version", 7, 't'}}, {0}, 1, "firmware version"},
    {"FM", "", {Field{"input", 1, 'd'}, Field{"hz", 11, 'd'}}, {8}, 1, "frequency count"},
    {"ER", "000", {Field{"block", 1, 'd'}, Field{"bytes", 64, 'x'}}, {36, 37, 38}, 3, "identity block"},
    {"FN", "", {Field{"mode", 1, 'd'}, Field{"percent", 3, 'd'}}, {23, 41}, 2, "fan speed"},
    {"SF", "", {Field{"value", 0, '*'}}, {28}, 1, "relay drive"},
    {"GS", "", {Field{"settings", 10, 't'}}, {34, 35}, 2, "general settings"},
    {"TU", "", {Field{"state", 1, 'd'}}, {}, 0, "tuner state"},
    {"SE", "", {Field{"service", 1, 'd'}}, {}, 0, "service mode"},
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// The fields of `args` (the text between keyword and ';') by the layout; false when the
// text does not fit it.
bool matchLayout(const Layout& l, std::string_view args, std::vector<std::pair<std::string, std::string>>& out)
{
    const std::string_view literal = l.literal;
    if (args.substr(0, literal.size()) != literal)
        return false;
    std::string_view rest = args.substr(literal.size());
    std::vector<std::pair<std::string, std::string>> fields;
    for (const Field& f : l.fields) {
        if (!f.name)
            break;
        const size_t width = f.kind == '*' ? rest.size() : static_cast<size_t>(f.width);
        if (rest.size() < width)
            return false;
        const std::string_view v = rest.substr(0, width);
        rest.remove_prefix(width);
        for (char c : v) {
            const bool fits = f.kind == 'd' ? isDigit(c) : f.kind == 'x' ? isHex(c)
                            : f.kind == 'b' ? (c == '0' || c == '1') : c != ';';
            if (!fits)
                return false;
        }
        std::string value(v);
        if (f.kind == 'd') {
            value = std::to_string(std::strtoull(value.c_str(), nullptr, 10));
        } else if (f.kind == 'b') {
            value = v[0] == '1' ? "on" : "off";
        } else if (f.kind == 'x' && std::string_view(f.name) == "word") {
            const uint32_t word = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
            static const char* const modes[] = {"none", "CL", "LC", "bypass"};
            fields.emplace_back("word", "0x" + value);
            fields.emplace_back("C", std::to_string(DecodeCapacitaFromTuneval(word)));
            fields.emplace_back("L", std::to_string(DecodeInduttanzaFromTuneval(word)));
            fields.emplace_back("mode", modes[DecodeModoFromTuneval(word) & 3]);
            continue;
        }
        fields.emplace_back(f.name, value);
    }
    if (!rest.empty())
        return false;
    out = std::move(fields);
    return true;
}

std::string bitNames(unsigned value, std::initializer_list<const char*> names)
{
    std::string out;
    unsigned bit = 0;
    for (const char* n : names) {
        if (value & (1u << bit)) {
            if (!out.empty())
                out += ',';
            out += n;
        }
        ++bit;
    }
    return out.empty() ? "-" : out;
}

// The status reply: two status digits, six four-digit readings, status byte 2 low nibble
// first, two spare digits, the peak forward reading.
bool decodeStatus(std::string_view args, DecodedFrame& f)
{
    if (args.size() != 34)
        return false;
    auto hexAt = [&](size_t i) { return isHex(args[i]) ? hexValue(args[i]) : -1; };
    for (size_t i = 2; i < 26; ++i)
        if (!isDigit(args[i]))
            return false;
    for (size_t i = 30; i < 34; ++i)
        if (!isDigit(args[i]))
            return false;
    const int b0 = hexAt(0), b1 = hexAt(1), lo = hexAt(26), hi = hexAt(27);
    if (b0 < 0 || b1 < 0 || lo < 0 || hi < 0)
        return false;
    auto num = [&](size_t i) { return std::to_string(std::strtoul(std::string(args.substr(i, 4)).c_str(), nullptr, 10)); };
    const unsigned b2 = static_cast<unsigned>(lo | (hi << 4));
    f.fields = {
        {"state", bitNames(static_cast<unsigned>(b1), {"TX", "SWR-trip", "bit2", "bypass"})},
        {"pads", bitNames(static_cast<unsigned>(b0), {"bit0", "bit1", "2dB", "3dB"})},
        {"in", num(2)},       {"fwd", num(6)},     {"refl", num(10)}, {"current", num(14)},
        {"therm1", num(18)},  {"therm2", num(22)}, {"peak", num(30)},
        {"faults", bitNames(b2, {"I-OUT", "REFL", "FWD", "SENS-PW", "FILTER-TX", "PWR-IN", "BAND", "RESET"})},
    };
    return true;
}

void setFound(DecodedFrame& f, const Layout& l, bool reply)
{
    f.commands.assign(l.numbers.begin(), l.numbers.begin() + l.count);
    f.name = reply ? std::string("reply: ") + l.name : l.name;
}

} // namespace

const char* crcStateName(CrcState state)
{
    switch (state) {
    case CrcState::Ok: return "ok";
    case CrcState::Mismatch: return "BAD";
    case CrcState::LowerCase: return "lower-case";
    case CrcState::Missing: return "missing";
    }
    return "?";
}

std::string unprintable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && isHex(text[i + 2])
                   && isHex(text[i + 3])) {
            out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool parseWireLine(std::string_view line, WireEntry& entry, bool& isNote, std::string& noteText)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0 || space + 2 > line.size())
        return false;
    const std::string stamp(line.substr(0, space));
    char* end = nullptr;
    const double t = std::strtod(stamp.c_str(), &end);
    if (!end || *end != '\0')
        return false;
    const char dir = line[space + 1];
    std::string_view rest = line.substr(space + 2);
    if (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    entry = {};
    entry.t = t;
    isNote = dir == '#';
    if (isNote) {
        noteText = std::string(rest);
        return true;
    }
    if (dir != '>' && dir != '<')
        return false;
    entry.toBoard = dir == '>';
    entry.frame = unprintable(rest);
    return true;
}

DecodedFrame decodeFrame(const WireEntry& entry)
{
    DecodedFrame f;
    f.t = entry.t;
    f.toBoard = entry.toBoard;
    f.frame = WireLog::printable(entry.frame);
    const std::string_view frame = entry.frame;

    if (frame.size() >= 2 && isHex(frame[0]) && isHex(frame[1])) {
        const std::string_view text = frame.substr(2);
        const uint8_t crc = Sys_Crc8Calculation(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        char want[4];
        std::snprintf(want, sizeof want, entry.toBoard ? "%02x" : "%02X", crc);
        f.crcExpected = want;
        const int got = hexValue(frame[0]) * 16 + hexValue(frame[1]);
        if (got != crc)
            f.crc = CrcState::Mismatch;
        else if (!entry.toBoard && frame.substr(0, 2) != want)
            f.crc = CrcState::LowerCase;
        else
            f.crc = CrcState::Ok;
    }
    const std::string_view text = f.crc == CrcState::Missing ? frame : frame.substr(2);
    if (text.size() < 3 || text.back() != ';') {
        f.name = "not a frame";
        f.shapeOk = false;
        return f;
    }
    f.keyword = std::string(text.substr(0, 2));
    const std::string_view args = text.substr(2, text.size() - 3);

    if (!entry.toBoard && args.size() == 1 && (args[0] == '?' || args[0] == '!' || args[0] == '&')) {
        f.name = std::string("refused (") + args[0] + ")";
        return f;
    }
    if (!entry.toBoard) {
        for (const Layout& l : kReplies) {
            if (f.keyword != l.keyword)
                continue;
            if (f.keyword == "ST" ? decodeStatus(args, f) : matchLayout(l, args, f.fields)) {
                setFound(f, l, true);
                return f;
            }
        }
    }
    bool known = false;
    for (const Layout& l : kCommands) {
        if (f.keyword != l.keyword)
            continue;
        known = true;
        if (matchLayout(l, args, f.fields)) {
            setFound(f, l, !entry.toBoard);
            return f;
        }
    }
    f.shapeOk = false;
    f.name = known ? "malformed " + f.keyword : "unknown keyword " + f.keyword;
    f.fields = {{"text", std::string(args)}};
    return f;
}

DecodedFrame WireDecoder::entry(const WireEntry& e)
{
    DecodedFrame f = decodeFrame(e);
    if (lastT_ >= 0)
        f.gapMs = (e.t - lastT_) * 1000.0;
    lastT_ = e.t;
    if (e.toBoard) {
        lastCommandT_ = e.t;
        lastKeyword_ = f.keyword;
        lastCommands_ = f.commands;
    } else if (lastCommandT_ >= 0) {
        f.replyMs = (e.t - lastCommandT_) * 1000.0;
        // A reply (or refusal) answers the command before it: the numbers are that command's.
        if (f.keyword == lastKeyword_ && !lastCommands_.empty())
            f.commands = lastCommands_;
    }
    return f;
}

std::optional<DecodedFrame> WireDecoder::line(std::string_view text)
{
    WireEntry e;
    bool isNote = false;
    std::string note;
    if (!parseWireLine(text, e, isNote, note))
        return std::nullopt;
    if (isNote) {
        DecodedFrame f;
        f.t = e.t;
        f.isNote = true;
        f.name = note;
        return f;
    }
    return entry(e);
}

std::string formatDecoded(const DecodedFrame& f)
{
    char head[64];
    if (f.isNote) {
        std::snprintf(head, sizeof head, "%.6f", f.t);
        return std::string(head) + "            # " + f.name;
    }
    if (f.gapMs < 0)
        std::snprintf(head, sizeof head, "%.6f %11s %c ", f.t, "", f.toBoard ? '>' : '<');
    else
        std::snprintf(head, sizeof head, "%.6f %+9.1fms %c ", f.t, f.gapMs, f.toBoard ? '>' : '<');
    std::string out = head;
    out += f.frame;
    if (out.size() < 48)
        out.append(48 - out.size(), ' ');
    out += f.crc == CrcState::Ok ? " crc ok" : std::string(" crc ") + crcStateName(f.crc);
    if (f.crc == CrcState::Mismatch || f.crc == CrcState::LowerCase)
        out += " (want " + f.crcExpected + ")";
    out += " ";
    if (!f.commands.empty()) {
        out += "[";
        for (size_t i = 0; i < f.commands.size(); ++i)
            out += (i ? "/" : "") + std::to_string(f.commands[i]);
        out += "] ";
    }
    out += f.name;
    for (const auto& [k, v] : f.fields)
        out += " " + k + "=" + v;
    if (f.replyMs >= 0) {
        char reply[32];
        std::snprintf(reply, sizeof reply, " (%.1f ms after its command)", f.replyMs);
        out += reply;
    }
    return out;
}

} // namespace sim
