#include "control.h"

#include "antenna_loads.h"
#include "transceiver_control.h"
#include "tuning_session.h"
#include "words.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace sim {

namespace {

bool number(const std::string& s, long long& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    out = std::strtoll(s.c_str(), &end, 0);
    return end && *end == '\0';
}

} // namespace

namespace {

// The commands of the physical board; "" when done, else what is wrong.
std::string applyPhysicsLine(AmpBoard& board, BoardPhysics& physics, const std::vector<std::string>& w)
{
    const std::string& cmd = w[0];
    char* end = nullptr;
    const double value = w.size() == 2 ? std::strtod(w[1].c_str(), &end) : 0;
    const bool numeric = w.size() == 2 && end && *end == '\0';
    if (cmd == "drive" || cmd == "ambient" || cmd == "timescale") {
        if (!numeric || value < 0)
            return "usage: " + cmd + " NUMBER";
        if (cmd == "drive")
            physics.setDrivePower(value);
        else if (cmd == "ambient")
            physics.setAmbient(value);
        else
            physics.setTimeScale(value);
        return "";
    }
    if (cmd == "load") {
        if (w.size() == 3 && w[1] == "swr") {
            const double swr = std::strtod(w[2].c_str(), &end);
            if (*end != '\0' || swr < 1)
                return "usage: load swr X (X >= 1)";
            physics.setReflection({});
            physics.setLoadSwr(swr);
            return "";
        }
        const std::pair<const char*, AntennaLoad> loads[] = {
            {"dipole", resonantDipole()}, {"vertical", shortVertical()}, {"endfed", endFedWire()}};
        for (const auto& [word, load] : loads) {
            if (w.size() == 2 && w[1] == word) {
                physics.setReflection(loadThroughTuner(load));
                return "";
            }
        }
        if (w.size() == 2 && w[1] == "outputs") {
            physics.setReflection(antennasThroughTuner());
            return "";
        }
        return "usage: load dipole|vertical|endfed|outputs|swr X";
    }
    if (cmd == "fan") {
        if (w.size() == 2 && w[1] == "auto") {
            physics.setFanOverride(-1);
            return "";
        }
        if (!numeric || value < 0 || value > 100)
            return "usage: fan auto|PERCENT";
        physics.setFanOverride(static_cast<int>(value));
        return "";
    }
    if (cmd == "temperature") {
        char* end2 = nullptr;
        const double t1 = w.size() == 3 ? std::strtod(w[1].c_str(), &end) : 0;
        const double t2 = w.size() == 3 ? std::strtod(w[2].c_str(), &end2) : 0;
        if (w.size() != 3 || *end != '\0' || *end2 != '\0')
            return "usage: temperature HEATSINK BOARD";
        physics.setTemperatures(t1, t2);
        return "";
    }
    if (cmd == "physics") {
        if (w.size() != 2 || (w[1] != "on" && w[1] != "off"))
            return "usage: physics on|off";
        board.state().setPhysics(w[1] == "on" ? physics.hook() : AmpBoardState::Physics{});
        return "";
    }
    return "unknown command " + cmd;
}

} // namespace

namespace {

// The commands of the board; "" when done, else what is wrong.
std::string applyBoardLine(AmpBoard& board, BoardPhysics* physics, const std::vector<std::string>& w)
{
    const std::string& cmd = w[0];
    long long v = 0;

    if (cmd == "reading") {
        if (w.size() != 3 || !number(w[2], v))
            return "usage: reading NAME VALUE";
        const std::string& n = w[1];
        bool known = true;
        board.state().update([&](StatusReadings& r) {
            const int i = static_cast<int>(v);
            const auto byte = static_cast<uint8_t>(v & 0xFF);
            if (n == "rawIn") r.rawIn = i;
            else if (n == "rawFwd") r.rawFwd = i;
            else if (n == "rawRefl") r.rawRefl = i;
            else if (n == "rawCurrent") r.rawCurrent = i;
            else if (n == "rawTherm1") r.rawTherm1 = i;
            else if (n == "rawTherm2") r.rawTherm2 = i;
            else if (n == "rawPeakFwd") r.rawPeakFwd = i;
            else if (n == "transmitting") r.transmitting = v != 0;
            else if (n == "swrTrip") r.swrTrip = v != 0;
            else if (n == "fault") r.faultByte = byte;
            else if (n == "byte0") r.byte0Extra = byte;
            else if (n == "byte1") r.byte1Extra = byte;
            else known = false;
        });
        return known ? "" : "unknown reading " + n;
    }
    if (cmd == "frequency") {
        if (w.size() != 2 || !number(w[1], v) || v < 0)
            return "usage: frequency HZ";
        board.setMeasuredFrequency(static_cast<uint64_t>(v));
        return "";
    }
    if (cmd == "clear-faults") {
        board.clearFaults();
        return "";
    }
    if (cmd == "power-cycle") {
        board.state().powerCycle();
        return "";
    }
    if (cmd == "pace") {
        if (w.size() != 2 || (w[1] != "on" && w[1] != "off"))
            return "usage: pace on|off";
        board.setPacing(w[1] == "on");
        return "";
    }
    if (cmd == "delay") {
        if (w.size() != 2 || !number(w[1], v) || v < 0)
            return "usage: delay MS";
        board.setReplyDelayMs(static_cast<double>(v));
        return "";
    }
    if (cmd == "fault") {
        if (w.size() < 2)
            return "usage: fault KIND [ARG...] [count N] [command KW]";
        Fault f;
        size_t i = 2;
        const std::string& kind = w[1];
        auto arg = [&](std::string& out) {
            if (i >= w.size())
                return false;
            out = w[i++];
            return true;
        };
        std::string a, b;
        if (kind == "silence") {
            f.kind = FaultKind::Silence;
        } else if (kind == "refuse") {
            if (!arg(a) || a.size() != 1)
                return "usage: fault refuse C";
            f.kind = FaultKind::Refuse;
            f.refusal = a[0];
        } else if (kind == "wrongcrc") {
            f.kind = FaultKind::WrongCrc;
        } else if (kind == "lowercrc") {
            f.kind = FaultKind::LowerCaseCrc;
        } else if (kind == "keyword") {
            if (!arg(a) || a.size() != 2)
                return "usage: fault keyword KW";
            f.kind = FaultKind::UnknownKeyword;
            f.keyword = a;
        } else if (kind == "split") {
            long long parts = 0, pause = 0;
            if (!arg(a) || !arg(b) || !number(a, parts) || !number(b, pause) || parts < 1 || pause < 0)
                return "usage: fault split PARTS PAUSE_MS";
            f.kind = FaultKind::Split;
            f.splitParts = static_cast<int>(parts);
            f.splitPauseMs = static_cast<int>(pause);
        } else if (kind == "garbage") {
            if (!arg(a))
                return "usage: fault garbage TEXT";
            f.kind = FaultKind::Garbage;
            f.garbage = a;
        } else {
            return "unknown fault " + kind;
        }
        while (i < w.size()) {
            const std::string& key = w[i++];
            if (key == "count" && i < w.size() && number(w[i], v) && v != 0) {
                f.count = static_cast<int>(v);
                ++i;
            } else if (key == "command" && i < w.size()) {
                f.command = w[i++];
            } else {
                return "unexpected '" + key + "' in fault";
            }
        }
        board.injectFault(f);
        return "";
    }
    if (physics)
        return applyPhysicsLine(board, *physics, w);
    return "unknown command " + cmd;
}

bool isPanelCommand(const std::string& cmd)
{
    return cmd == "press" || cmd == "hold" || cmd == "button" || cmd == "key";
}

// A button number 1..6.
bool buttonNumber(const std::string& s, int& key)
{
    long long v = 0;
    if (!number(s, v) || v < 1 || v > 6)
        return false;
    key = static_cast<int>(v);
    return true;
}

// The commands of the front panel; "" when done, else what is wrong.
std::string applyPanelLine(FrontPanel& panel, const std::vector<std::string>& w)
{
    const std::string& cmd = w[0];
    int key = 0;
    if (cmd == "press") {
        if (w.size() != 2 || !buttonNumber(w[1], key))
            return "usage: press K (K 1..6)";
        panel.pressButton(key, kShortPressMs);
        return "";
    }
    if (cmd == "hold") {
        std::string ms = w.size() == 3 ? w[2] : "";
        if (ms.size() > 2 && ms.compare(ms.size() - 2, 2, "ms") == 0)
            ms.resize(ms.size() - 2);
        long long v = 0;
        if (w.size() != 3 || !buttonNumber(w[1], key) || !number(ms, v) || v < 0 || v > 600000)
            return "usage: hold K MS (K 1..6, MS milliseconds, e.g. 800 or 800ms)";
        panel.pressButton(key, static_cast<int>(v));
        return "";
    }
    if (cmd == "button") {
        if (w.size() != 3 || !buttonNumber(w[1], key) || (w[2] != "down" && w[2] != "up"))
            return "usage: button K down|up (K 1..6)";
        panel.buttonLevel(key, w[2] == "down");
        return "";
    }
    const int code = w.size() == 2 ? keyCode(w[1]) : -1;
    if (code < 0)
        return "usage: key F10|F11|F12|SYSRQ|CODE (CODE 1..767)";
    if (!panel.keyboardKey(code))
        return "the keyboard FIFO cannot take the key";
    return "";
}

} // namespace

std::string applyControlLine(const ControlTargets& targets, std::string_view line)
{
    const std::vector<std::string> w = words(line);
    if (w.empty() || w[0][0] == '#')
        return "";
    if (isTransceiverCommand(w[0]))
        return targets.transceivers ? applyTransceiverLine(*targets.transceivers, w) : "no transceivers for " + w[0];
    if (isPanelCommand(w[0]))
        return targets.panel ? applyPanelLine(*targets.panel, w) : "no front panel for " + w[0];
    if (w[0] == "soundcard" || w[0] == "audio")
        return targets.sound ? applySoundCardLine(*targets.sound, w) : "no sound card for " + w[0];
    if (w[0] == "usb")
        return targets.usb ? targets.usb->apply({w.begin() + 1, w.end()}) : "no USB receiver for usb";
    if (!targets.board)
        return "no board for " + w[0];
    return applyBoardLine(*targets.board, targets.physics, w);
}

std::string applyControlLine(AmpBoard& board, std::string_view line, BoardPhysics* physics)
{
    return applyControlLine(ControlTargets{&board, physics, nullptr}, line);
}

std::string applyControlText(AmpBoard& board, std::string_view text, BoardPhysics* physics)
{
    return applyControlText(ControlTargets{&board, physics, nullptr}, text);
}

std::string applyControlText(const ControlTargets& targets, std::string_view text)
{
    std::string errors;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string err = applyControlLine(targets, line);
        if (!err.empty())
            errors += std::string(line) + ": " + err + "\n";
        pos = end + 1;
    }
    return errors;
}

} // namespace sim
