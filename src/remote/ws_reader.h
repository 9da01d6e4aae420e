#pragma once
// Reading the remote connection: a buffered byte reader over any source (a socket, or a
// fuzzer's bytes), the header lines of the handshake, and whole frames in the wire form
// both sides speak:
//
//   B[0]   B[1]      after B[1]
//   0x81   n <= 125  4-byte masking key (always, whatever the mask bit), n payload bytes
//   0x82   n <= 125  n payload bytes: 2-letter tag, then data
//   any    126       big-endian 16-bit length L, then L payload bytes (tag first)
//   any    127..255  big-endian 32-bit length L, then L - 2 bytes
//
// Every frame is read whole into a fixed buffer sized for the largest frame the link defines
// (a raw audio block at the largest Multiplier); a frame that cannot fit ends the
// connection, so nothing is ever read past the buffer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

// The longest audio block the link carries: 5760 frames (120 ms at 48 kHz, the longest Opus
// frame: Multiplier 24), and the raw form of it, 4 bytes per two-channel frame.
constexpr size_t WS_AUDIO_SAMPLES_MAX = 5760;
constexpr size_t WS_AUDIO_PAYLOAD_MAX = WS_AUDIO_SAMPLES_MAX * 4;
// The largest frame the link defines: an "SO" frame of that raw block (0x82, 0x7E, the
// 16-bit length, "SO", the 32-bit audio length, the samples).
constexpr size_t WS_FRAME_MAX = 10 + WS_AUDIO_PAYLOAD_MAX;
constexpr size_t WS_LINE_MAX = 1024;

// A source fills up to `length` bytes; returns the count (> 0), 0 at the end of the
// stream, or -1 on an error, a timeout or a stop, with errno telling which.
using WsSource = std::function<long(unsigned char* out, size_t length)>;

class WsByteReader {
public:
    explicit WsByteReader(WsSource source) : source_(std::move(source)) {}
    // Exactly `length` bytes into out; false when the source ended or failed first.
    bool readExact(unsigned char* out, size_t length);
    // One line: bytes up to and including a line feed, or WS_LINE_MAX - 1 bytes without one
    // (the rest comes as the next line). False when the source ended before any byte.
    bool readLine(std::string& line);
    // The last source result that was not a byte count (0 end of stream, -1 failure), and
    // the error number the source left with it (0 at the end of the stream).
    long lastResult() const { return lastResult_; }
    int lastError() const { return lastError_; }

private:
    bool fill();
    WsSource source_;
    std::array<unsigned char, 2048> buffer_{};
    size_t start_ = 0;
    size_t end_ = 0;
    long lastResult_ = 1;
    int lastError_ = 0;
};

enum class WsReadResult {
    Ok,
    Ended,     // the peer closed or the source failed (nothing usable)
    TooLong,   // the declared length does not fit the frame buffer
    Malformed, // the length cannot carry what its form needs (a binary frame without a tag)
};

struct WsFrame {
    std::array<unsigned char, WS_FRAME_MAX> bytes{};
    size_t size = 0;           // bytes of the frame read into `bytes`
    size_t payloadOffset = 0;  // where the payload starts
    size_t payloadLength = 0;  // payload bytes (a text frame's n; a binary frame's tag and data)
    bool longForm = false;     // 126 or 127 length form

    uint8_t kind() const { return bytes[0]; }
    std::span<const unsigned char> payload() const { return {bytes.data() + payloadOffset, payloadLength}; }
};

// Reads one whole frame. `readError` names the read step that failed (for the log line):
// 1 the header, 3 the short form, 4 the 16-bit form, 5 the 32-bit form.
WsReadResult wsReadFrame(WsByteReader& reader, WsFrame& frame, int& readError);

// A text frame's payload unmasked in place (byte i XOR key byte i mod 4).
void wsUnmask(WsFrame& frame);
