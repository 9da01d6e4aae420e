#pragma once
// The framed messages of the maker's transceiver, without any port: the hunt for a message
// start, the length digits, the parameter frame's decoding into SerParam and the spectrum
// line's conversion and alignment.
//
// A message is a type byte 0..14, a subtype character ('0' spectrum, '1' parameters) and
// four length digits, least significant first, each sent as '0' + digit ('0'..'9', ':'..'?'),
// then the payload. Only type 0 / subtype '0' (spectrum line) and type 1 / subtype '1'
// (parameter frame) carry a payload that is read.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

struct SerParam;

// Largest payload the link keeps; a longer length field is refused.
constexpr int SERIAL_PAYLOAD_MAX = 1999;
// First byte of a spectrum line that belongs on the plot.
constexpr int SPECTRUM_FIRST_BYTE = 85;
// Bytes of an aligned line.
constexpr int ALIGNED_LINE_BYTES = 1024;

// The payload length of four length digits in the order received; -1 when the digits are
// not a hexadecimal number (the text stops at its first non-digit, as a number read does).
int decodeLengthDigits(const uint8_t digits[4]);

// Decodes one parameter frame into the record (updated in place: a field the frame does not
// carry keeps its value).
void decodeParameterFrame(SerParam& record, std::span<const uint8_t> payload);

// The plot's values of a spectrum line: byte (unsigned) - 192 dB for bytes 85 on, at most
// SPECTRUM_ENTRIES values; entries the line does not reach are set to the floor, -192 dB.
// Returns the number of values taken from the line.
int spectrumValues(std::span<const uint8_t> line, std::span<float, 1024> out);

// The first byte of the aligned line for a receive mode and the two shift fields.
int spectrumAlignStart(int32_t mode, int32_t shift12, int32_t shift20);
// Rotates the line (its first 1024 bytes, zeros past its end) to begin at `start`; returns
// the number of bytes that go to the peer: the line's length less 170, within 0..1024.
size_t alignSpectrumLine(std::span<const uint8_t> line, int start, std::array<uint8_t, ALIGNED_LINE_BYTES>& out);

// What the hunt found.
enum class SerialEvent {
    None,           // more bytes needed
    Spectrum,       // type 0 '0', payload read
    Parameters,     // type 1 '1', payload read
    OtherSubtype,   // type 0 or 1 with another subtype: no payload read
    OtherType,      // types 2..14: no payload read
    BadLength,      // a length field over SERIAL_PAYLOAD_MAX or not a number: the message is
                    // refused and the hunt resumes with the next byte
};

// The message hunt, fed one byte at a time. Bytes above 14 are skipped while hunting.
class FrameHunter {
public:
    // Takes one byte; returns the event it completes (None while a message is still open).
    SerialEvent feed(uint8_t byte);
    // True between a message's type byte and its last byte.
    bool inMessage() const { return state_ != State::Hunting; }
    // Forgets a message the line stopped in the middle of; hunting starts again.
    void drop() { state_ = State::Hunting; }
    uint8_t type() const { return type_; }
    uint8_t subtype() const { return header_[0]; }
    // The length field of the last message (also when refused).
    int length() const { return length_; }
    // The last length field as text, most significant digit first (for the log).
    const char* lengthText() const { return lengthText_.data(); }
    // The payload of the last Spectrum or Parameters event.
    std::span<const uint8_t> payload() const { return {payload_.data(), payloadLength_}; }

private:
    enum class State { Hunting, Header, Payload };
    SerialEvent headerDone();

    State state_ = State::Hunting;
    uint8_t type_ = 0;
    std::array<uint8_t, 5> header_{};
    int headerFill_ = 0;
    int length_ = 0;
    int payloadFill_ = 0;
    size_t payloadLength_ = 0;
    std::array<char, 5> lengthText_{};
    std::array<uint8_t, SERIAL_PAYLOAD_MAX> payload_{};
};
