#include "transceivers.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

// Hexadecimal digits as the transceiver sends them: '0' + value ('0'..'9', ':'..'?').
std::string digits(uint32_t value, int count)
{
    std::string s;
    for (int i = count - 1; i >= 0; --i)
        s += static_cast<char>('0' + ((value >> (4 * i)) & 0xF));
    return s;
}

uint8_t bcd(uint32_t twoDigits)
{
    return static_cast<uint8_t>(((twoDigits / 10) << 4) | (twoDigits % 10));
}

// Splits the text received so far into commands ending in ';'; the rest stays pending.
void takeCommands(std::string& pending, const std::string& bytes, std::vector<std::string>& out)
{
    pending += bytes;
    size_t end;
    while ((end = pending.find(';')) != std::string::npos) {
        out.push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
    }
    if (pending.size() > 256)
        pending.clear();
}

} // namespace

std::string makerMessage(uint8_t type, char subtype, const std::string& payload)
{
    std::string m;
    m += static_cast<char>(type);
    m += subtype;
    const size_t length = payload.size();
    for (int i = 0; i < 4; ++i)
        m += static_cast<char>('0' + ((length >> (4 * i)) & 0xF));
    return m + payload;
}

uint32_t MakerTransceiver::activeFrequency() const
{
    return vfo == 'B' ? freqB : vfo == 'M' ? freqM : freqA;
}

std::string MakerTransceiver::parameterFrame(bool otherVfo) const
{
    uint8_t b0 = 0;
    uint32_t frequency = freqA;
    if (vfo == 'M') {
        b0 = 0x01;
        frequency = freqM;
    } else {
        const bool activeB = vfo == 'B';
        const bool frameForB = otherVfo ? !activeB : activeB;
        b0 = static_cast<uint8_t>((activeB ? 0x20 : 0) | (frameForB ? 0x10 : 0));
        frequency = frameForB ? freqB : freqA;
    }
    std::string f;
    f += static_cast<char>(b0);
    f += digits(frequency, 8);
    f += static_cast<char>(0x80 | (transmitting() ? 0x40 : 0) | (mode & 0x0F));  // b9
    f += static_cast<char>(0x40);                                                  // b10 audio: main
    f += static_cast<char>(0x40 | (anRequest ? 0x20 : 0));                         // b11 squelch off
    f += static_cast<char>(0x80 | (2 << 3) | 1);                                   // b12 filters
    f += static_cast<char>(0x40 | 4);                                              // b13
    f += static_cast<char>(0x30);                                                  // b14 NR off
    f += static_cast<char>(0x30);                                                  // b15 NB off
    f += std::string{0x60, 0x61, 0x30, 0x60};                                      // b16..b19
    f += static_cast<char>(0x40);                                                  // b20 ATT, LP, AN off
    f += static_cast<char>(211);                                                   // b21
    f += static_cast<char>(0x80 | 40);                                             // b22 volume 40
    f += digits(0, 3);                                                             // b23..b25 shift12
    f += digits(0, 5);                                                             // b26..b30 shift20
    return f;
}

std::string MakerTransceiver::nextParameterMessage()
{
    const bool other = vfo != 'M' && (frames_++ % 2) == 1;
    return makerMessage(1, '1', parameterFrame(other));
}

std::string MakerTransceiver::spectrumMessage() const
{
    std::string line(1024, '\0');
    const double toneBin = kCentreByte + toneOffsetHz / kHzPerBin;
    for (size_t i = 0; i < line.size(); ++i) {
        // A noise floor that wanders by a few dB, and the tone two bins wide at its peak.
        double db = noiseDb + 3.0 * std::sin(static_cast<double>(i) * 0.37);
        if (toneOn && std::fabs(static_cast<double>(i) - toneBin) < 1.0)
            db = std::max(db, toneDb);
        line[i] = static_cast<char>(std::clamp(static_cast<int>(std::lround(db + 192)), 0, 255));
    }
    return makerMessage(0, '0', line);
}

void MakerTransceiver::receive(const std::string& bytes)
{
    const size_t first = commands_.size();
    takeCommands(pending_, bytes, commands_);
    for (size_t i = first; i < commands_.size(); ++i) {
        const std::string& c = commands_[i];
        if (c == "RX") {
            keyed = false;
            tuneCarrier = false;
        } else if (c == "TX2") {
            tuneCarrier = true;
        }
    }
}

std::string Ft817::receive(const std::string& bytes)
{
    std::string answer;
    for (char c : bytes) {
        command_ += c;
        if (command_.size() < 5)
            continue;
        const bool frequencyRequest = static_cast<uint8_t>(command_[4]) == 0x03;
        command_.clear();
        if (!frequencyRequest)
            continue;
        ++requests_;
        const uint32_t tens = frequency / 10;
        std::string r;
        r += static_cast<char>(bcd((tens / 1000000) % 100));
        r += static_cast<char>(bcd((tens / 10000) % 100));
        r += static_cast<char>(bcd((tens / 100) % 100));
        r += static_cast<char>(bcd(tens % 100));
        r += static_cast<char>(modeByte);
        switch (reply) {
        case Reply::Normal:
            answer += r;
            break;
        case Reply::Silence:
            break;
        case Reply::Garbage:
            r[1] = static_cast<char>((static_cast<uint8_t>(r[1]) & 0xF0) | 0x0A);
            answer += r;
            break;
        case Reply::Short:
            answer += r.substr(0, 3);
            break;
        case Reply::Late:
            answer += r.substr(0, 2);
            late_ += r.substr(2);
            break;
        }
    }
    return answer;
}

std::string Ft817::takeLate()
{
    std::string out;
    out.swap(late_);
    return out;
}

std::vector<std::string> CatUsbPort::receive(const std::string& bytes)
{
    const size_t first = commands_.size();
    takeCommands(pending_, bytes, commands_);
    std::vector<std::string> pieces;
    for (size_t i = first; i < commands_.size() && !silent; ++i) {
        const std::string& command = commands_[i];
        if (const auto set = answers.find(command); set != answers.end())
            pieces.insert(pieces.end(), set->second.begin(), set->second.end());
        else if (command == "DT")
            pieces.push_back(identity);
        else if (echo)
            pieces.push_back(command + ";");
    }
    return pieces;
}

} // namespace sim
