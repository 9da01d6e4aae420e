#pragma once
// The amplifier board on its serial line: the wire protocol of the amplifier link served on the
// master side of a pseudo-terminal. Frames are two CRC-8 hex digits and a command text
// ending in ";". Received frames are accepted with upper- or lower-case CRC digits (the
// controller sends lower case); frames with a wrong CRC get no reply. Replies carry the
// CRC in upper-case digits, as the real board's do.
//
// Timing: with pacing on (the default), replies leave at the line's 115200 baud, 10 bits
// a byte (86.8 us a byte, each byte handed over once its stop bit would have ended, in
// the fewest batches at most 2 ms apart, as a UART's receive FIFO delivers, the last batch
// at the last byte's own time), and
// a reply starts no earlier than the moment the command's last byte would have arrived
// on the real line (first byte seen + length x 86.8 us), plus the settable reply delay.
//
// Fault injection: a list of faults, each applying to the next `count` replies (or for
// ever with a negative count) to any command or only to commands with a given keyword.
// The first matching fault of the list applies to a reply.
#include "amp_board_state.h"
#include "line_settings.h"
#include "wire_log.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

constexpr double kLineBaud = 115200.0;
constexpr double kBitsPerByte = 10.0;
constexpr double kByteSeconds = kBitsPerByte / kLineBaud; // 86.8 us
constexpr double kPacingBatchSeconds = 0.002; // paced bytes leave in batches at most 2 ms apart

enum class FaultKind {
    Silence,        // no reply at all
    Refuse,         // reply "<kw><refusal>;" ('?', '!' or '&' as the third character), good CRC
    WrongCrc,       // the reply with a CRC that does not match (upper-case digits)
    LowerCaseCrc,   // the reply with its CRC in lower-case digits (a CRC without letter
                    // digits, "45", looks the same in both cases: the reply is then unchanged)
    UnknownKeyword, // the reply with its two keyword letters replaced (good CRC)
    Split,          // the reply written in splitParts pieces with splitPauseMs between them
    Garbage,        // the bytes of `garbage` sent as they are instead of the reply
};

struct Fault {
    FaultKind kind = FaultKind::Silence;
    std::string command;     // only replies to commands with this keyword ("ST"); "" any
    int count = 1;           // replies affected; negative: persistent until clearFaults()
    char refusal = '?';      // Refuse
    std::string keyword = "ZZ"; // UnknownKeyword
    int splitParts = 3;      // Split
    int splitPauseMs = 20;   // Split
    std::string garbage = "#\x01~"; // Garbage

    static Fault silence(int count = 1, std::string command = "");
    static Fault refuse(char refusal = '?', int count = 1, std::string command = "");
    static Fault wrongCrc(int count = 1, std::string command = "");
    static Fault lowerCaseCrc(int count = 1, std::string command = "");
    static Fault unknownKeyword(std::string keyword = "ZZ", int count = 1, std::string command = "");
    static Fault split(int parts = 3, int pauseMs = 20, int count = 1, std::string command = "");
    static Fault garbageBytes(std::string bytes, int count = 1, std::string command = "");
};

class AmpBoard {
public:
    explicit AmpBoard(WireLog& log);
    ~AmpBoard();
    AmpBoard(const AmpBoard&) = delete;
    AmpBoard& operator=(const AmpBoard&) = delete;

    // Serves the line on this pseudo-terminal master (not owned) in a thread of its own.
    void start(int masterFd);
    void stop();
    bool serving() const;

    // The board's state: readings, identity, settings made by commands.
    AmpBoardState& state();
    // Shortcuts to the state.
    void setReadings(const StatusReadings& r);
    StatusReadings readings() const;
    void setMeasuredFrequency(uint64_t hz);
    BoardSettings settings() const;

    // Fault injection.
    void injectFault(const Fault& fault);
    void clearFaults();
    size_t pendingFaults() const;

    // Pacing at 115200 baud (on by default).
    void setPacing(bool on);
    bool pacing() const;
    // Extra time the board takes before answering (the micro-controller's own work), ms.
    void setReplyDelayMs(double ms);

    // Counters.
    uint64_t framesReceived() const;  // complete frames from the host (all, good or bad)
    uint64_t framesRejected() const;  // frames ignored for their CRC or shape
    uint64_t repliesSent() const;
    // The check of the line settings the controller set (frames are refused while wrong).
    const LineGuard& lineGuard() const { return lineGuard_; }

    // One reply frame as the board sends it: CRC-8 of the text in upper-case hex, then the text.
    static std::string frame(std::string_view text);
    // Whether a received frame's CRC digits match its text (either case accepted).
    static bool frameCrcOk(std::string_view frame);

private:
    void run();
    void handleFrame(const std::string& frame, double tFirst);
    void sendReply(const std::string& command, std::string_view reply, double notBefore);
    bool writePaced(std::string_view bytes, double notBefore, double& tFirst, double& tLast);
    bool takeFault(std::string_view keyword, Fault& out);

    WireLog& log_;
    AmpBoardState state_;
    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> pacing_{true};
    std::atomic<double> replyDelayMs_{0.0};
    std::atomic<uint64_t> framesReceived_{0}, framesRejected_{0}, repliesSent_{0};
    mutable std::mutex faultMutex_;
    std::deque<Fault> faults_;
    LineGuard lineGuard_{"dev/ttyAMA0"};
};

} // namespace sim
