#pragma once
// The wire log of the simulated amplifier board: every frame in both directions, with
// monotonic time stamps, kept in memory for tests (unless switched off: a simulator that
// runs for days must not grow by every frame) and appended to a text file. The
// transceiver's CAT port keeps one of its own (<root>/sim/cat.log, transceiver_ports.h):
// there an entry is one read or write of the port, '>' what the controller wrote.
//
// File format (<root>/sim/wire.log), one line per frame, written as the frame happens:
//     <seconds> <dir> <frame>
//   <seconds>  monotonic clock (CLOCK_MONOTONIC, the same clock as monoSeconds()), "%.6f",
//              the moment the frame's first byte crossed the pseudo-terminal (a paced
//              reply's: the moment it ended on the line; it crosses with its batch)
//   <dir>      '>' host to board (the controller's command), '<' board to host (a reply)
//   <frame>    the bytes exactly as on the wire, CRC digits included ("4dST;"); bytes
//              outside printable ASCII are written as \xHH, a backslash as "\\"
// A reply's entry is added once its last byte is written (its t is still its first byte's
// time), so a test that has read a reply itself may have to wait a moment for the entry;
// the order of entries is always the order on the wire.
// Lines beginning with "#" after the time stamp are notes of the simulator, not frames
// (an injected fault, a frame refused for its CRC); they are not entries in memory:
//     12.345678 # fault: silence (no reply to ST)
// A file that reaches its size limit (32 MB, about two and a half hours of link polling)
// becomes <file>.1, replacing the one before, and a new file goes on from the next line,
// beginning with a note that says so: a unit that runs for days keeps the last hours in
// two files, with no line cut between them.
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct WireEntry {
    double t = 0;         // monotonic seconds: first byte of the frame
    bool toBoard = false; // true: host to board (command); false: board to host (reply)
    std::string frame;    // the frame as on the wire, CRC digits included
    double tEnd = 0;      // monotonic seconds: last byte of the frame (paced replies end later)
};

class WireLog {
public:
    WireLog() = default;
    ~WireLog();
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;

    // Writes every later entry and note to this file too, which is started afresh, as the
    // earlier files go ("" closes the file).
    bool openFile(const std::string& path, size_t maxFileBytes = kWireLogFileBytes);
    // Whether later entries are kept in memory too (the default); the file gets them either way.
    void keepEntries(bool keep);
    void add(WireEntry entry);
    void note(std::string_view text);
    std::vector<WireEntry> entries() const;
    size_t size() const;
    void clear(); // the memory only; the file keeps its lines

    // Waits (on a condition variable, no spinning) until pred holds for the entries so far,
    // or timeoutSeconds pass. Returns whether pred held.
    bool waitFor(const std::function<bool(const std::vector<WireEntry>&)>& pred,
                 double timeoutSeconds) const;

    // The text form of one entry, as in the file.
    static std::string format(const WireEntry& e);
    // Bytes made printable as in the file (\xHH for bytes outside printable ASCII).
    static std::string printable(std::string_view bytes);

    static constexpr size_t kWireLogFileBytes = size_t{32} << 20;

private:
    // One line to the file (under the lock), and the change of file at its limit.
    void writeLine(const std::string& line);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<WireEntry> entries_;
    bool keep_ = true;
    FILE* file_ = nullptr;
    std::string path_;
    size_t maxFileBytes_ = kWireLogFileBytes;
    size_t fileBytes_ = 0;
};

} // namespace sim
