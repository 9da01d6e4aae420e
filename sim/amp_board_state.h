#pragma once
// The amplifier board's state and the meaning of its commands (the board's own
// micro-controller as the controller sees it). Wire framing, CRC,
// pacing and fault injection live in AmpBoard (amp_board.h); this class only turns one
// command text into one reply text.
//
// Readings are plain settable values for now. A physical model (drive power, load,
// tuner network, temperatures following dissipation) plugs in through setPhysics(): it is
// called under the state's lock before every status reply and may rewrite the readings
// from the settings the controller made.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The measurements carried by the "ST" reply (its layout). Four-digit fields are
// clamped to 0..9999 on the wire.
struct StatusReadings {
    int rawIn = 0;        // positions 4-7
    int rawFwd = 0;       // positions 8-11
    int rawRefl = 0;      // positions 12-15
    int rawCurrent = 120; // positions 16-19 (12-bit converter, 14.05 A full scale)
    int rawTherm1 = 1830; // positions 20-23 (12-bit NTC divider; 1830 is about 30 degrees)
    int rawTherm2 = 1750; // positions 24-27 (about 32 degrees)
    int rawPeakFwd = 0;   // positions 32-35
    bool transmitting = false; // status byte 1 bit 0
    bool swrTrip = false;      // status byte 1 bit 1 (latched; "CPFFFF;" clears it)
    uint8_t byte0Extra = 0;    // status byte 0 bits not owned by the board state (bits 0, 1)
    uint8_t byte1Extra = 0;    // status byte 1 bit 2
    uint8_t faultByte = 0;     // status byte 2 bits 0-6 (latched; "CPFFFF;" clears them)
};

// What the controller's commands have set on the board.
struct BoardSettings {
    int antenna = 1;                 // SA: output 1..3
    uint64_t frequencySet = 0;       // FA: Hz
    uint32_t tuneWord = 0;           // MT1: tuner relay word
    int freqSensIn = 0;              // FS: counter input
    int freqPeriod = 1;              // FS: counter gate period
    int attenuatorCode = 0;          // AT: bit 1 the 3 dB pad, bit 0 the 2 dB pad
    bool protection = false;         // MP
    bool bypass = false;             // AB: amplifier bypassed (status byte 1 bit 3)
    int anState = 0;                 // AN
    std::array<int, 4> ts{};         // TS thresholds
    std::array<int, 4> ps{};         // PS protection parameters
    int fanMode = 0;                 // FN: first digit
    int fanPercent = 0;              // FN: percent
    std::string sf;                  // SF: the parameter text as sent
    std::array<int, 2> gm{};         // GM
    std::string general = "0000000000"; // GS: 10 characters
    bool serviceMode = false;        // SE
    bool resetFlag = true;           // status byte 2 bit 7: set at power-up, cleared by "MR0;"
    bool bootloader = false;         // "MR1;" received: the board waits for new firmware
    int protectionResets = 0;        // "CPFFFF;" count
};

class AmpBoardState {
public:
    AmpBoardState();

    // One command text without CRC digits ("ST;", "SA2;"), one reply text without CRC
    // digits ("SA2;"); std::nullopt when the board gives no reply. Unknown commands are
    // refused with "?" as the third character, commands with malformed fields with "!".
    std::optional<std::string> execute(std::string_view command);

    // The status reply as the board would send it now (no CRC digits).
    std::string statusReply();

    // Readings.
    void setReadings(const StatusReadings& r);
    StatusReadings readings() const;
    // Changes readings in place under the lock: board.state().update([](StatusReadings& r){...}).
    void update(const std::function<void(StatusReadings&)>& change);

    // The frequency counter ("FM" reply), Hz; 0 (no carrier) by default.
    void setMeasuredFrequency(uint64_t hz);
    uint64_t measuredFrequency() const;

    // Identity: firmware version ("VS", 7 characters, cut or blank-padded), the identity
    // blocks 0..2 ("ER000n", 32 bytes each), the model byte (second byte of block 2).
    void setVersion(std::string_view version7);
    std::string version() const;
    void setIdentityBlock(int block, const std::array<uint8_t, 32>& bytes);
    std::array<uint8_t, 32> identityBlock(int block) const;
    void setAmpModel(uint8_t ampModel); // '1' (0x31) the big model, anything else the standard one

    // Settings made by commands (a copy), and a way to set them directly.
    BoardSettings settings() const;
    void setSettings(const BoardSettings& s);

    // Back to power-up state (settings reset, reset flag set); readings and identity stay.
    void powerCycle();

    // The physical model hook (see the top of this file); an empty function removes it.
    using Physics = std::function<void(const BoardSettings&, StatusReadings&)>;
    void setPhysics(Physics physics);

    // Status bytes as the reply carries them, computed from settings and readings.
    uint8_t statusByte(int index) const;

private:
    std::string statusReplyLocked();
    std::optional<std::string> executeLocked(std::string_view command);
    uint8_t statusByteLocked(int index) const;

    mutable std::mutex mutex_;
    StatusReadings readings_;
    BoardSettings settings_;
    uint64_t measuredHz_ = 0;
    std::string version_;
    std::array<std::array<uint8_t, 32>, 3> identity_{};
    Physics physics_;
};

} // namespace sim
