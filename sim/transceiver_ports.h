#pragma once
// The transceivers of the simulated unit on their pseudo-terminals, served by one thread:
//
//   dev/ttyUSB1     the transceiver serial line: the maker's transceiver (streaming its
//                   parameter frames and spectrum lines) or an FT-817, whichever is plugged
//                   in (setConnected); with neither, what the controller writes is dropped
//   dev/DODUVOV0    the transceiver's USB CAT port; what crosses it, both ways, is logged
//                   as the board's wire log is (catLog(), file <root>/sim/cat.log: '>'
//                   controller to port, '<' port to controller, one entry for each read
//                   or write as it happened); the pieces of an answer are written
//                   kCatPieceGapSeconds apart
//
//   ports.maker([](sim::MakerTransceiver& t) { t.vfo = 'B'; });   // under the ports' lock
//   ports.setDriveHook([&](double w) { physics.setDrivePower(w); });
//
// The drive hook is called (outside the lock) whenever the maker's transceiver's drive power
// changes: keyed by the operator, its tune carrier started by "TU120;TX2;", or "RX;".
//
// Each port checks the line settings the controller set (line_settings.h) and refuses the
// line while they are wrong. A port can be unplugged (its pseudo-terminal closed and its
// name removed, as when a USB adapter is pulled: the controller's descriptor hangs up) and
// plugged in again (a new pseudo-terminal under the same name).
#include "line_settings.h"
#include "pty.h"
#include "transceivers.h"
#include "wire_log.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

enum class SerialTransceiver { None, Maker, Ft817 };
enum class TrxPort { Serial, Cat };  // dev/ttyUSB1, dev/DODUVOV0

constexpr double kCatPieceGapSeconds = 0.05;
// A late FT-817 reply: its first bytes at once, the rest this long after the request (the
// controller gives up on a reply after about 1.5 s).
constexpr double kFt817LateSeconds = 2.0;

class TransceiverPorts {
public:
    explicit TransceiverPorts(const std::string& root);
    ~TransceiverPorts();
    TransceiverPorts(const TransceiverPorts&) = delete;
    TransceiverPorts& operator=(const TransceiverPorts&) = delete;

    void setConnected(SerialTransceiver which);
    SerialTransceiver connected() const;
    // Messages a second of the maker's transceiver (0 stops that kind).
    void setRates(double parametersPerSecond, double spectraPerSecond);
    void setDriveHook(std::function<void(double watts)> hook);
    // Pulls the port's adapter out (false) or plugs it back in (true); done by the ports'
    // thread within a few milliseconds.
    void setPlugged(TrxPort port, bool plugged);
    bool plugged(TrxPort port) const;
    // The maker's transceiver stops in the middle of its next message (half of it sent) and
    // stays silent until resumed.
    void cutMidMessage();
    void resume();
    // The line settings checks of the two ports.
    const LineGuard& lineGuard(TrxPort port) const { return port == TrxPort::Serial ? serialGuard_ : catGuard_; }

    // Changes or reads a model under the lock (the drive hook follows a change).
    void maker(const std::function<void(MakerTransceiver&)>& change);
    void ft817(const std::function<void(Ft817&)>& change);
    void catPort(const std::function<void(CatUsbPort&)>& change);
    // The CAT port writes these pieces by itself (a transceiver reporting a change
    // unasked), after any answer still waiting and kCatPieceGapSeconds apart.
    void catSend(const std::vector<std::string>& pieces);
    // Copies, for tests.
    MakerTransceiver makerState() const;
    Ft817 ft817State() const;
    CatUsbPort catPortState() const;
    // Messages written to the serial line so far.
    unsigned long messagesSent() const { return sent_; }
    // Every read and write on the CAT port so far (toBoard: the controller wrote it).
    const WireLog& catLog() const { return catLog_; }
    // Whether the CAT log keeps its entries in memory too (the default); the file gets them either way.
    void keepCatLog(bool keep) { catLog_.keepEntries(keep); }

    void stop();

private:
    void run();
    void notifyDrive();
    void stream(double now, std::string& out);
    void queueCatPieces(double now, const std::vector<std::string>& pieces);
    void flushCat(double now);
    void applyPlugs();
    int serialFd() const { return serial_ ? serial_->master() : -1; }
    int catFd() const { return cat_ ? cat_->master() : -1; }

    std::string root_;
    mutable std::mutex mutex_;
    std::unique_ptr<Pty> serial_;  // the thread's own (null while unplugged)
    std::unique_ptr<Pty> cat_;
    std::atomic<bool> serialWanted_{true}, catWanted_{true};
    std::atomic<bool> serialPlugged_{true}, catPlugged_{true};
    LineGuard serialGuard_{"dev/ttyUSB1"};
    LineGuard catGuard_{"dev/DODUVOV0"};
    bool cutPending_ = false;  // under the lock
    bool paused_ = false;      // under the lock
    std::string ft817Late_;    // under the lock: the rest of a late reply, due at ft817LateDue_
    double ft817LateDue_ = 0;
    MakerTransceiver maker_;
    Ft817 ft817_;
    CatUsbPort catPort_;
    SerialTransceiver connected_ = SerialTransceiver::Maker;
    double parameterPeriod_ = 0.1;
    double spectrumPeriod_ = 0.1;
    double nextParameters_ = 0;
    double nextSpectrum_ = 0;
    std::function<void(double)> driveHook_;
    double lastDrive_ = 0;
    std::mutex hookMutex_;
    std::atomic<unsigned long> sent_{0};
    std::string serialOut_;  // bytes waiting for room on the line, the thread's own
    struct CatPiece {
        std::string bytes;
        double due = 0;  // monotonic seconds
    };
    std::deque<CatPiece> catOut_;  // the thread's own
    std::vector<std::string> catToSend_;  // under the lock
    size_t catOutBytes_ = 0;
    WireLog catLog_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

} // namespace sim
