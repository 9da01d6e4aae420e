#include "remote/ws_reader.h"

#include "platform/log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

bool WsByteReader::fill()
{
    if (start_ == end_)
        start_ = end_ = 0;
    if (end_ == buffer_.size()) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    const long n = source_(buffer_.data() + end_, buffer_.size() - end_);
    if (n <= 0) {
        lastError_ = n < 0 ? errno : 0;
        lastResult_ = n;
        return false;
    }
    end_ += static_cast<size_t>(std::min<long>(n, static_cast<long>(buffer_.size() - end_)));
    return true;
}

bool WsByteReader::readExact(unsigned char* out, size_t length)
{
    size_t done = 0;
    while (done < length) {
        if (start_ == end_ && !fill())
            return false;
        const size_t take = std::min(length - done, end_ - start_);
        std::memcpy(out + done, buffer_.data() + start_, take);
        start_ += take;
        done += take;
    }
    return true;
}

bool WsByteReader::readLine(std::string& line)
{
    line.clear();
    while (line.size() < WS_LINE_MAX - 1) {
        if (start_ == end_ && !fill())
            return !line.empty();
        const char c = static_cast<char>(buffer_[start_++]);
        line += c;
        if (c == '\n')
            break;
    }
    return true;
}

namespace {

uint32_t be16(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

uint32_t be32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

constexpr uint8_t BINARY_FRAME = 0x82;

} // namespace

WsReadResult wsReadFrame(WsByteReader& reader, WsFrame& frame, int& readError)
{
    frame.bytes.fill(0);
    frame.size = 0;
    frame.longForm = false;
    readError = 1;
    // Every frame starts with at least 4 bytes.
    if (!reader.readExact(frame.bytes.data(), 4))
        return WsReadResult::Ended;
    frame.size = 4;
    const uint8_t lengthByte = frame.bytes[1];
    size_t total = 0;
    if (lengthByte <= 125) {
        readError = 3;
        const bool text = (frame.bytes[0] & 1) != 0;  // odd first byte: a text frame, with its key
        frame.payloadOffset = text ? 6 : 2;
        frame.payloadLength = lengthByte;
        if (frame.bytes[0] == BINARY_FRAME && lengthByte < 2) {
            logSys(LOG_ERR, "frame of %u bytes has no tag", lengthByte);
            return WsReadResult::Malformed;
        }
        total = std::max<size_t>(4, frame.payloadOffset + lengthByte);
    } else if (lengthByte == 126) {
        readError = 4;
        frame.longForm = true;
        frame.payloadOffset = 4;
        frame.payloadLength = be16(frame.bytes.data() + 2);
        total = 4 + frame.payloadLength;
    } else {
        readError = 5;
        frame.longForm = true;
        if (!reader.readExact(frame.bytes.data() + 4, 2))
            return WsReadResult::Ended;
        frame.size = 6;
        const uint32_t length = be32(frame.bytes.data() + 2);
        if (length > WS_FRAME_MAX - 4) {
            logSys(LOG_ERR, "frame length %u refused (at most %d)", length, static_cast<int>(WS_FRAME_MAX - 4));
            return WsReadResult::TooLong;
        }
        // L - 2 bytes follow the length; this form carries no message, so no tag is needed.
        frame.payloadOffset = 6;
        frame.payloadLength = length >= 2 ? length - 2 : 0;
        total = 6 + frame.payloadLength;
    }
    if (lengthByte == 126 && frame.payloadLength < 2 && frame.bytes[0] == BINARY_FRAME) {
        logSys(LOG_ERR, "frame of %d bytes has no tag", static_cast<int>(frame.payloadLength));
        return WsReadResult::Malformed;
    }
    if (total > WS_FRAME_MAX) {
        logSys(LOG_ERR, "frame of %d bytes refused (at most %d)", static_cast<int>(total),
               static_cast<int>(WS_FRAME_MAX));
        return WsReadResult::TooLong;
    }
    if (total > frame.size && !reader.readExact(frame.bytes.data() + frame.size, total - frame.size))
        return WsReadResult::Ended;
    frame.size = total;
    return WsReadResult::Ok;
}

void wsUnmask(WsFrame& frame)
{
    if (frame.payloadOffset < 6)
        return;
    for (size_t i = 0; i < frame.payloadLength; ++i)
        frame.bytes[frame.payloadOffset + i] ^= frame.bytes[2 + (i % 4)];
}
