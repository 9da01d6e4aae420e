#include "amp_board_state.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// Every field of a command is checked before it is read: true when `s` is exactly `n`
// decimal digits.
bool allDigits(std::string_view s, size_t n)
{
    if (s.size() != n)
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool allHex(std::string_view s, size_t n)
{
    if (s.size() != n)
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

int toInt(std::string_view s)
{
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

int clamp4(int v)
{
    return std::clamp(v, 0, 9999);
}

char hexDigit(unsigned v)
{
    return "0123456789ABCDEF"[v & 0xF];
}

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...)
{
    char buf[160];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

std::array<uint8_t, 32> textBlock(const char* text)
{
    std::array<uint8_t, 32> b{};
    std::memcpy(b.data(), text, std::min(std::strlen(text), b.size()));
    return b;
}

} // namespace

AmpBoardState::AmpBoardState()
{
    version_ = "1.07.03";
    // Identity blocks: readable texts in blocks 0 and 1; block 2 starts with the EE2 byte
    // and the model byte ('0', the standard model: 60 meter steps).
    identity_[0] = textBlock("SIM-AMP 600W SN 00000042");
    identity_[1] = textBlock("CAL 2024-05-01 REV C");
    identity_[2] = {};
    identity_[2][0] = 0x01;
    identity_[2][1] = '0';
}

std::optional<std::string> AmpBoardState::execute(std::string_view command)
{
    std::lock_guard lock(mutex_);
    return executeLocked(command);
}

std::optional<std::string> AmpBoardState::executeLocked(std::string_view command)
{
    if (command.size() < 3 || command.back() != ';')
        return std::nullopt; // not a command: the board says nothing
    const std::string kw(command.substr(0, 2));
    const std::string_view args = command.substr(2, command.size() - 3);
    const std::string refused = kw + "?;";
    const std::string bad = kw + "!;";
    BoardSettings& s = settings_;

    if (kw == "ST") {
        if (!args.empty())
            return bad;
        return statusReplyLocked();
    }
    if (kw == "VS")
        return "VSM" + version_ + ";";
    if (kw == "FM") {
        if (!args.empty())
            return bad;
        return fmt("FM%d%011llu;", std::clamp(s.freqSensIn, 0, 9),
                   static_cast<unsigned long long>(measuredHz_ % 100000000000ULL));
    }
    if (kw == "SA") {
        if (!allDigits(args, 1) || args[0] < '1' || args[0] > '3')
            return bad;
        s.antenna = args[0] - '0';
        return fmt("SA%d;", s.antenna);
    }
    if (kw == "FA") {
        if (!allDigits(args, 11))
            return bad;
        s.frequencySet = std::stoull(std::string(args));
        return fmt("FA%011llu;", static_cast<unsigned long long>(s.frequencySet));
    }
    if (kw == "MT") {
        if (args.empty())
            return fmt("MT1%08X;", s.tuneWord);
        if (args[0] != '1' || !allHex(args.substr(1), 8))
            return bad;
        s.tuneWord = static_cast<uint32_t>(std::stoul(std::string(args.substr(1)), nullptr, 16));
        return fmt("MT1%08X;", s.tuneWord);
    }
    if (kw == "FS") {
        if (!allDigits(args, 5))
            return bad;
        s.freqSensIn = args[0] - '0';
        s.freqPeriod = toInt(args.substr(1));
        return fmt("FS%01d%04d;", s.freqSensIn, s.freqPeriod);
    }
    if (kw == "CP") {
        if (args != "FFFF")
            return bad;
        // Protection reset: the latched faults and the SWR trip clear.
        readings_.faultByte &= 0x80;
        readings_.swrTrip = false;
        s.protectionResets += 1;
        return std::string("CPFFFF;");
    }
    if (kw == "AT") {
        if (args.size() != 2 || (args[0] != '0' && args[0] != '1') || (args[1] != '0' && args[1] != '1'))
            return bad;
        s.attenuatorCode = (args[0] - '0') * 2 + (args[1] - '0');
        return "AT" + std::string(args) + ";";
    }
    if (kw == "MP" || kw == "AB" || kw == "MR") {
        if (args.size() != 1 || (args[0] != '0' && args[0] != '1'))
            return bad;
        const bool on = args[0] == '1';
        if (kw == "MP")
            s.protection = on;
        else if (kw == "AB")
            s.bypass = on;
        else if (on)
            s.bootloader = true;
        else
            s.resetFlag = false;
        return kw + std::string(args) + ";";
    }
    if (kw == "AN") {
        if (args.empty() || args.size() > 3 || !allDigits(args, args.size()))
            return bad;
        s.anState = toInt(args);
        return fmt("AN%d;", s.anState);
    }
    if (kw == "TS" || kw == "PS") {
        if (!allDigits(args, 16))
            return bad;
        std::array<int, 4>& v = kw == "TS" ? s.ts : s.ps;
        for (size_t i = 0; i < 4; ++i)
            v[i] = toInt(args.substr(i * 4, 4));
        return fmt("%s%04d%04d%04d%04d;", kw.c_str(), v[0], v[1], v[2], v[3]);
    }
    if (kw == "FN") {
        if (!allDigits(args, 4) || toInt(args.substr(1)) > 100)
            return bad;
        s.fanMode = args[0] - '0';
        s.fanPercent = toInt(args.substr(1));
        return fmt("FN%d%03d;", s.fanMode, s.fanPercent);
    }
    if (kw == "SF") {
        if (args.empty() || args.size() > 16 || !allHex(args, args.size()))
            return bad;
        s.sf = std::string(args);
        return "SF" + s.sf + ";";
    }
    if (kw == "GM") {
        if (!allDigits(args, 8))
            return bad;
        s.gm = {toInt(args.substr(0, 4)), toInt(args.substr(4, 4))};
        return fmt("GM%04d%04d;", s.gm[0], s.gm[1]);
    }
    if (kw == "GS") {
        if (args.empty())
            return "GS" + s.general + ";";
        if (args.size() != 10 || args.find(';') != std::string_view::npos)
            return bad;
        s.general = std::string(args);
        return "GS" + s.general + ";";
    }
    if (kw == "ER") {
        if (!allDigits(args, 4) || args.substr(0, 3) != "000" || args[3] > '2')
            return bad;
        const auto& block = identity_[static_cast<size_t>(args[3] - '0')];
        std::string reply = "ER" + std::string(args);
        for (uint8_t b : block) {
            reply += hexDigit(b >> 4);
            reply += hexDigit(b);
        }
        return reply + ";";
    }
    if (kw == "SE") {
        if (args.size() != 1 || (args[0] != '0' && args[0] != '1'))
            return bad;
        s.serviceMode = args[0] == '1';
        return "SE" + std::string(args) + ";";
    }
    if (kw == "TU") {
        if (!args.empty())
            return bad;
        return std::string("TU0;");
    }
    return refused;
}

uint8_t AmpBoardState::statusByteLocked(int index) const
{
    const StatusReadings& r = readings_;
    const BoardSettings& s = settings_;
    switch (index) {
    case 0: // bit 3 the 3 dB pad, bit 2 the 2 dB pad, bits 0-1 as set
        return static_cast<uint8_t>((r.byte0Extra & 0x3) | ((s.attenuatorCode & 0x3) << 2));
    case 1: // bit 0 transmitting, bit 1 SWR trip, bit 2 as set, bit 3 bypassed
        return static_cast<uint8_t>((r.transmitting ? 1 : 0) | (r.swrTrip ? 2 : 0)
                                    | (r.byte1Extra & 0x4) | (s.bypass ? 8 : 0));
    case 2: // bits 0-6 faults, bit 7 the micro-controller has reset
        return static_cast<uint8_t>((r.faultByte & 0x7F) | (s.resetFlag ? 0x80 : 0));
    default:
        return 0;
    }
}

uint8_t AmpBoardState::statusByte(int index) const
{
    std::lock_guard lock(mutex_);
    return statusByteLocked(index);
}

std::string AmpBoardState::statusReply()
{
    std::lock_guard lock(mutex_);
    return statusReplyLocked();
}

std::string AmpBoardState::statusReplyLocked()
{
    if (physics_)
        physics_(settings_, readings_);
    const StatusReadings& r = readings_;
    const uint8_t b2 = statusByteLocked(2);
    // "ST", status digits of bytes 0 and 1, six four-digit readings, byte 2 low nibble
    // first, two unused digits, the peak forward reading: 36 characters and ";".
    std::string out = "ST";
    out += hexDigit(statusByteLocked(0));
    out += hexDigit(statusByteLocked(1));
    out += fmt("%04d%04d%04d%04d%04d%04d", clamp4(r.rawIn), clamp4(r.rawFwd), clamp4(r.rawRefl),
               clamp4(r.rawCurrent), clamp4(r.rawTherm1), clamp4(r.rawTherm2));
    out += hexDigit(b2);
    out += hexDigit(b2 >> 4);
    out += "00";
    out += fmt("%04d", clamp4(r.rawPeakFwd));
    out += ';';
    return out;
}

void AmpBoardState::setReadings(const StatusReadings& r)
{
    std::lock_guard lock(mutex_);
    readings_ = r;
}

StatusReadings AmpBoardState::readings() const
{
    std::lock_guard lock(mutex_);
    return readings_;
}

void AmpBoardState::update(const std::function<void(StatusReadings&)>& change)
{
    std::lock_guard lock(mutex_);
    change(readings_);
}

void AmpBoardState::setMeasuredFrequency(uint64_t hz)
{
    std::lock_guard lock(mutex_);
    measuredHz_ = hz;
}

uint64_t AmpBoardState::measuredFrequency() const
{
    std::lock_guard lock(mutex_);
    return measuredHz_;
}

void AmpBoardState::setVersion(std::string_view version7)
{
    std::lock_guard lock(mutex_);
    version_ = std::string(version7.substr(0, 7));
    version_.resize(7, ' ');
}

std::string AmpBoardState::version() const
{
    std::lock_guard lock(mutex_);
    return version_;
}

void AmpBoardState::setIdentityBlock(int block, const std::array<uint8_t, 32>& bytes)
{
    if (block < 0 || block > 2)
        return;
    std::lock_guard lock(mutex_);
    identity_[static_cast<size_t>(block)] = bytes;
}

std::array<uint8_t, 32> AmpBoardState::identityBlock(int block) const
{
    if (block < 0 || block > 2)
        return {};
    std::lock_guard lock(mutex_);
    return identity_[static_cast<size_t>(block)];
}

void AmpBoardState::setAmpModel(uint8_t ampModel)
{
    std::lock_guard lock(mutex_);
    identity_[2][1] = ampModel;
}

BoardSettings AmpBoardState::settings() const
{
    std::lock_guard lock(mutex_);
    return settings_;
}

void AmpBoardState::setSettings(const BoardSettings& s)
{
    std::lock_guard lock(mutex_);
    settings_ = s;
}

void AmpBoardState::powerCycle()
{
    std::lock_guard lock(mutex_);
    settings_ = BoardSettings{};
    readings_.faultByte = 0;
    readings_.swrTrip = false;
}

void AmpBoardState::setPhysics(Physics physics)
{
    std::lock_guard lock(mutex_);
    physics_ = std::move(physics);
}

} // namespace sim
