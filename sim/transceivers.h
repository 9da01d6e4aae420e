#pragma once
// The transceivers the amplifier can follow, as wire protocols without ports: each takes
// the bytes the controller wrote and gives the bytes the transceiver answers.
//
//   MakerTransceiver  the maker's transceiver on its framed serial link: parameter frames
//                     and spectrum lines from a settable state (VFO A/B/M and their
//                     frequencies, mode, transmit, the "AN" request, one tone in the
//                     spectrum); "TU120;TX2;" starts its tune carrier and "RX;" ends any
//                     transmission, which the board sees as drive power.
//   Ft817             an FT-817 answering the frequency request 00 00 00 00 03 with four
//                     BCD bytes (10 Hz units) and a mode byte; or silent, garbled (non-BCD
//                     digits), short (3 bytes) or late (2 bytes at once, the other 3 held
//                     back for the port to send later: takeLate()).
//   CatUsbPort        the transceiver's USB CAT port: "DT;" answers "DT001;" (settable),
//                     a command given an answer of its own gets that answer, written in
//                     the pieces it was given (as a transceiver's answer may reach the
//                     line in several writes); any other command ending in ';' is echoed
//                     unless echoing is off.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// One framed message: type, subtype character, four length digits least significant first
// ('0' + digit), then the payload.
std::string makerMessage(uint8_t type, char subtype, const std::string& payload);

class MakerTransceiver {
public:
    // Bytes of the spectrum line on either side of the operating frequency: 160 kHz over
    // 854 entries from byte 85 on, the operating frequency at byte 85 + 427.
    static constexpr double kHzPerBin = 160000.0 / 854.0;
    static constexpr int kCentreByte = 85 + 427;

    char vfo = 'A';  // 'A', 'B' or 'M'
    uint32_t freqA = 14070000;
    uint32_t freqB = 7100000;
    uint32_t freqM = 3650000;
    int mode = 1;
    bool keyed = false;        // the operator transmits
    bool tuneCarrier = false;  // the carrier asked for with "TU120;TX2;"
    bool anRequest = false;    // the amplifier "AN" state the transceiver asks for
    double keyWatts = 5;       // drive power while keyed
    double tuneWatts = 5;      // drive power of the tune carrier
    double toneOffsetHz = 0;   // one tone in the spectrum, relative to the operating frequency
    double toneDb = -50;
    bool toneOn = false;
    double noiseDb = -105;

    bool transmitting() const { return keyed || tuneCarrier; }
    double drivePower() const { return keyed ? keyWatts : tuneCarrier ? tuneWatts : 0; }
    uint32_t activeFrequency() const;

    // The next parameter frame (a message of 31 payload bytes). Every other frame outside
    // the memory channel carries the inactive VFO's frequency, as the transceiver does.
    std::string nextParameterMessage();
    // A spectrum line message of 1024 bytes.
    std::string spectrumMessage() const;
    // Takes what the controller wrote; commands (without their ';') are kept in order.
    void receive(const std::string& bytes);
    const std::vector<std::string>& commands() const { return commands_; }

private:
    std::string parameterFrame(bool otherVfo) const;

    std::string pending_;
    std::vector<std::string> commands_;
    unsigned frames_ = 0;
};

class Ft817 {
public:
    enum class Reply { Normal, Silence, Garbage, Short, Late };

    uint32_t frequency = 7050000;
    uint8_t modeByte = 1;
    Reply reply = Reply::Normal;

    // The answer to what the controller wrote ("" when there is none).
    std::string receive(const std::string& bytes);
    unsigned requests() const { return requests_; }
    // The held-back rest of late replies since the last call.
    std::string takeLate();

private:
    std::string command_;
    std::string late_;
    unsigned requests_ = 0;
};

class CatUsbPort {
public:
    std::string identity = "DT001;";
    bool silent = false;
    bool echo = true;
    // Answers by command (without its ';'), each as the pieces the port writes one after
    // the other.
    std::map<std::string, std::vector<std::string>> answers;

    // The pieces of the answers to what the controller wrote, in order.
    std::vector<std::string> receive(const std::string& bytes);
    const std::vector<std::string>& commands() const { return commands_; }

private:
    std::string pending_;
    std::vector<std::string> commands_;
};

} // namespace sim
