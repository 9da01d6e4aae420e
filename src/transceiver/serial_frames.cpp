#include "transceiver/serial_frames.h"

#include "amplifier/measurements.h"
#include "core/works.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// A digit of the frame's hexadecimal fields: '0'..'?' and 0x00..0x0F both give 0..15.
uint32_t digitOf(uint8_t byte)
{
    return static_cast<uint32_t>(byte | 0x30) - 0x30;
}

uint32_t hexField(const uint8_t* bytes, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 16 + digitOf(bytes[i]);
    return value;
}

// A level slot: a level above 0 is stored; 0 turns the level off, keeping the last level
// as its negative (the start value when there was none).
void setLevel(int32_t& slot, int value, int32_t start)
{
    if (value > 0) {
        slot = value;
        return;
    }
    const int32_t last = slot < 0 ? -slot : slot;
    slot = last != 0 ? -last : start;
}

int32_t sign(bool minus)
{
    return minus ? -1 : 1;
}

// The length digits as text, most significant first, ':'..'?' raised to 'A'..'F'.
void lengthDigitText(const uint8_t digits[4], char text[5])
{
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = digits[3 - i];
        text[i] = static_cast<char>(c > '9' ? c + 7 : c);
    }
    text[4] = '\0';
}

} // namespace

int decodeLengthDigits(const uint8_t digits[4])
{
    char text[5];
    lengthDigitText(digits, text);
    int value = 0;
    int used = 0;
    for (; used < 4; ++used) {
        const int d = charToInt(text[used]);
        if (d < 0)
            break;
        value = value * 16 + d;
    }
    return used == 0 ? -1 : value;
}

void decodeParameterFrame(SerParam& p, std::span<const uint8_t> payload)
{
    // Bytes the frame does not reach read as 0, as in a cleared receive buffer.
    uint8_t b[32] = {};
    const size_t len = payload.size();
    std::memcpy(b, payload.data(), std::min(len, sizeof b));

    p.stat6 = (b[0] >> 6) & 1;
    p.vfoB = (b[0] >> 5) & 1;
    p.freqOfB = (b[0] >> 4) & 1;
    p.freqOfM = b[0] & 1;
    p.stat32 = (b[0] >> 2) & 3;

    p.freqRaw = static_cast<int32_t>(hexField(b + 1, 8));
    if (p.freqOfM) {
        p.freqM = p.freqRaw;
        p.frequency = p.freqM;
    } else {
        if (p.freqOfB)
            p.freqB = p.freqRaw;
        else
            p.freqA = p.freqRaw;
        p.frequency = p.vfoB ? p.freqB : p.freqA;
    }
    p.freqPrev = p.freqLast;
    p.freqLast = p.frequency;

    if (len > 9 && (b[9] & 0x80)) {
        p.txFlag = (b[9] >> 6) & 1;
        p.st9b5 = (b[9] >> 5) & 1;
        p.st9b4 = (b[9] >> 4) & 1;
        p.modeRaw = b[9] & 0x0F;
        if (p.freqOfB)
            p.modeB = p.modeRaw;
        else
            p.modeA = p.modeRaw;
        p.mode = p.vfoB ? p.modeB : p.modeA;
    }
    if (len > 10 && (b[10] & 0xC0) == 0x40) {
        p.audioSel = (b[10] >> 4) & 3;
        p.sw3 = sign(b[10] & 0x08);
        p.sw2 = sign(b[10] & 0x04);
        p.sw1 = sign(b[10] & 0x02);
        p.sw0 = -sign(b[10] & 0x01);
    }
    if (len > 11 && (b[11] & 0xC0) == 0x40) {
        p.anReq = (b[11] >> 5) & 1;
        p.st11b4 = (b[11] >> 4) & 1;
        setLevel(p.sqlLevel, b[11] & 0x0F, -1);
    }
    if (len > 13 && (b[12] & 0x80) && (b[13] & 0xC0) == 0x40) {
        p.flt2 = (b[12] >> 2) & 1;
        setLevel(p.fltLo, b[12] & 0x03, 0);
        setLevel(p.fltMid, (b[12] >> 3) & 0x0F, 0);
        p.st13b5 = (b[13] >> 5) & 1;
        p.st13b4 = (b[13] >> 4) & 1;
        setLevel(p.fltHi, b[13] & 0x0F, 0);
        p.fltIdx = p.flt2 ? (b[13] & 0x0F) + 5 : ((b[12] >> 3) & 0x0F) + 1;
    }
    if (len > 14 && (b[14] >> 4) == 3)
        setLevel(p.nrLevel, b[14] & 0x0F, -1);
    if (len > 15 && (b[15] >> 4) == 3)
        setLevel(p.nbLevel, b[15] & 0x0F, -1);
    if (len >= 20 && (b[16] & 0xE0) == 0x60 && (b[17] & 0xE0) == 0x60 && (b[19] & 0xE0) == 0x60 &&
        (b[18] >> 4) == 3) {
        p.sel16 = (b[16] & 0x1F) + 1;
        p.sel17 = (b[17] & 0x1F) + 1;
        p.sel18 = (b[18] & 0x0F) + 1;
        p.sel19a = ((b[19] >> 2) & 0x07) + 1;
        p.sel19b = (b[19] & 0x03) + 1;
    }
    if (len > 20 && (b[20] & 0xC0) == 0x40) {
        setLevel(p.attLevel, (b[20] >> 4) & 1, -1);
        setLevel(p.lpLevel, (b[20] >> 3) & 1, -1);
        setLevel(p.anLevel, (b[20] >> 1) & 3, -1);
        p.sw20 = -sign(b[20] & 0x01);
    }
    if (len > 21)
        p.level21 = static_cast<int32_t>(b[21]) - 211;
    if (len > 22) {
        const int volume = b[22] & 0x7F;
        if (p.audioSel == 0)
            setLevel(p.volLevel, volume, 50);
        else if (p.audioSel == 1)
            setLevel(p.volAuxLevel, volume, 50);
        else
            setLevel(p.volSideLevel, volume, 5);
    }
    if (len > 25)
        p.shift12 = static_cast<int32_t>(hexField(b + 23, 3));
    if (len > 30) {
        // A signed 20-bit number: a first digit of 8 or more makes it negative.
        const uint32_t raw = hexField(b + 26, 5) & 0xFFFFF;
        p.shift20 = raw & 0x80000 ? static_cast<int32_t>(raw) - 0x100000 : static_cast<int32_t>(raw);
    }
}

int spectrumValues(std::span<const uint8_t> line, std::span<float, 1024> out)
{
    std::fill(out.begin(), out.end(), -192.0f);
    int taken = 0;
    for (size_t pos = SPECTRUM_FIRST_BYTE; pos < line.size() && taken < SPECTRUM_ENTRIES; ++pos, ++taken)
        out[static_cast<size_t>(taken)] = static_cast<float>(line[pos]) - 192.0f;
    return taken;
}

int spectrumAlignStart(int32_t mode, int32_t shift12, int32_t shift20)
{
    constexpr float binsPerHz = 0.005333f;
    float shift = 0;
    if (mode == 4)
        shift = -static_cast<float>(shift12) * binsPerHz;
    else if (mode == 6)
        shift = static_cast<float>(shift12) * binsPerHz;
    shift += static_cast<float>(shift20) * binsPerHz;
    const float x = std::clamp(static_cast<float>(SPECTRUM_FIRST_BYTE) + shift, -1.0e6f, 1.0e6f);
    int start = static_cast<int>(std::floor(x));
    // A start before the line wraps round to its end (every shift, however large).
    if (start < 0)
        start = (start % ALIGNED_LINE_BYTES + ALIGNED_LINE_BYTES) % ALIGNED_LINE_BYTES;
    return start;
}

size_t alignSpectrumLine(std::span<const uint8_t> line, int start, std::array<uint8_t, ALIGNED_LINE_BYTES>& out)
{
    const auto byteAt = [&](size_t i) -> uint8_t { return i < line.size() ? line[i] : 0; };
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t from = start < ALIGNED_LINE_BYTES ? (static_cast<size_t>(start) + i) % out.size() : i;
        out[i] = byteAt(from);
    }
    // The line less its 170 bytes beyond the plot, never more than the aligned line holds.
    if (line.size() <= 170)
        return 0;
    return std::min(line.size() - 170, out.size());
}

SerialEvent FrameHunter::feed(uint8_t byte)
{
    switch (state_) {
    case State::Hunting:
        if (byte <= 14) {
            type_ = byte;
            headerFill_ = 0;
            state_ = State::Header;
        }
        return SerialEvent::None;
    case State::Header:
        header_[static_cast<size_t>(headerFill_++)] = byte;
        return headerFill_ == static_cast<int>(header_.size()) ? headerDone() : SerialEvent::None;
    case State::Payload:
        payload_[static_cast<size_t>(payloadFill_++)] = byte;
        if (payloadFill_ < length_)
            return SerialEvent::None;
        state_ = State::Hunting;
        payloadLength_ = static_cast<size_t>(length_);
        return type_ == 0 ? SerialEvent::Spectrum : SerialEvent::Parameters;
    }
    return SerialEvent::None;
}

SerialEvent FrameHunter::headerDone()
{
    state_ = State::Hunting;
    lengthDigitText(&header_[1], lengthText_.data());
    length_ = decodeLengthDigits(&header_[1]);
    if (type_ > 1)
        return SerialEvent::OtherType;
    if (header_[0] != (type_ == 0 ? '0' : '1'))
        return SerialEvent::OtherSubtype;
    if (length_ < 0 || length_ > SERIAL_PAYLOAD_MAX)
        return SerialEvent::BadLength;
    if (length_ == 0) {
        payloadLength_ = 0;
        return type_ == 0 ? SerialEvent::Spectrum : SerialEvent::Parameters;
    }
    payloadFill_ = 0;
    state_ = State::Payload;
    return SerialEvent::None;
}
