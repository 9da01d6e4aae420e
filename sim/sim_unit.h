#pragma once
// The simulated unit as a whole, for ampsim and for end-to-end tests:
//
//   sim::SimUnit unit(rootDir);                 // builds the root, starts the models
//   sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
//   unit.waitForFrame("4dST;", true, 5.0);      // host-to-board frame seen
//   unit.board().injectFault(sim::Fault::silence(4, "FM"));
//   auto log = unit.wireLog();                  // copy of every frame so far
//   ctl.terminate(); ctl.waitExit(10.0);
//   unit.stop();
//
// While the unit runs, dev/ttyAMA0 points at the pseudo-terminal the amplifier board
// serves; dev/ttyUSB1 and dev/DODUVOV0 at the transceivers' (transceiver_ports.h:
// unit.transceivers()); dev/ttyUSB0 at a pseudo-terminal whose input is drained and dropped. The simulator keeps a descriptor of
// each pseudo-terminal's slave side open, so the controller may close and reopen the
// port at will. The front panel (buttons on dev/mem, the keyboard FIFO) is served by a
// FrontPanel:
//   unit.pressButton(6);            // short press of button 6 (100 ms)
//   unit.pressButton(1, 800);       // long press
//   unit.keyboardKey(sim::kKeyF12); // F12 on the USB keyboard
#include "amp_board.h"
#include "controller_process.h"
#include "front_panel.h"
#include "root_builder.h"
#include "transceiver_ports.h"
#include "sound_card.h"
#include "usb_receiver/receiver_model.h"
#include "wire_log.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim {

struct SimOptions {
    bool pacing = true;        // 115200 baud pacing of the board's replies
    bool writeWireLogFile = true; // <root>/sim/wire.log (started afresh by each unit)
    bool keepWireLog = true;   // every frame in memory too (wireLog(), waitForFrame...), and
                               // every piece on the CAT port (catLog()); ampsim, which may
                               // run for days, keeps the files only
};

class Pty;

class SimUnit {
public:
    explicit SimUnit(const std::string& rootDir, SimOptions options = {});
    ~SimUnit();
    SimUnit(const SimUnit&) = delete;
    SimUnit& operator=(const SimUnit&) = delete;

    const std::string& root() const { return root_; }
    AmpBoard& board() { return *board_; }
    // The USB receiver (sim/usb_receiver): present from the start with its default signal.
    UsbReceiver& usbReceiver() { return *usb_; }
    WireLog& wire() { return wire_; }
    // The transceivers on dev/ttyUSB1 and dev/DODUVOV0; nullptr once the unit has stopped.
    TransceiverPorts* transceivers() { return transceivers_.get(); }

    // A copy of every frame so far, both directions.
    std::vector<WireEntry> wireLog() const { return wire_.entries(); }
    // Wait (no spinning) until the predicate holds for the wire log, or the timeout.
    bool waitForFrames(const std::function<bool(const std::vector<WireEntry>&)>& pred,
                       double timeoutSeconds);
    // Until the log holds at least `count` entries in all.
    bool waitForFrames(size_t count, double timeoutSeconds);
    // Until `occurrences` frames in the given direction are exactly `frame` (CRC digits
    // included, "4dST;"), or, with matchText, whose text after the CRC digits is `frame`.
    bool waitForFrame(std::string_view frame, bool toBoard, double timeoutSeconds,
                      size_t occurrences = 1, bool matchText = false);

    // Paths inside the root.
    std::string path(const std::string& relative) const { return rootPath(root_, relative); }
    std::string wireLogPath() const { return path("sim/wire.log"); }
    std::string framebufferPath() const { return path("dev/fb0"); }
    // The pseudo-terminal slave behind each link ("/dev/pts/N").
    std::string boardPtyName() const;

    // The front panel; nullptr once the unit has stopped. The calls below return false then.
    FrontPanel* frontPanel() { return panel_.get(); }
    // Button key (1..6) pressed for ms milliseconds, queued after earlier presses.
    bool pressButton(int key, int ms = kShortPressMs) { return panel_ && panel_->pressButton(key, ms); }
    // The pin of button key alone, at once (down: pressed).
    bool buttonLevel(int key, bool down) { return panel_ && panel_->buttonLevel(key, down); }
    // A keyboard key (Linux key code) pressed and released.
    bool keyboardKey(int code) { return panel_ && panel_->keyboardKey(code); }
    // Raw bytes into the keyboard FIFO.
    bool writeKeyboard(const void* bytes, size_t length) { return panel_ && panel_->writeKeyboard(bytes, length); }

    // The USB sound interface (plugged in while the unit runs; nullptr once stopped).
    SoundCard* soundCard() { return sound_.get(); }

    // Stops the models (the board thread first); idempotent. The device links stay.
    void stop();
    bool running() const { return running_; }

private:
    void start(const std::string& rootDir);
    void drainLoop();

    std::string root_;
    SimOptions options_;
    WireLog wire_;
    std::unique_ptr<AmpBoard> board_;
    std::unique_ptr<Pty> boardPty_, usb0Pty_;
    std::unique_ptr<TransceiverPorts> transceivers_;
    std::unique_ptr<FrontPanel> panel_;
    std::unique_ptr<SoundCard> sound_;
    std::unique_ptr<UsbReceiver> usb_;
    int drainWake_[2] = {-1, -1};
    std::thread drainThread_;
    std::atomic<bool> running_{false};
};

// The text after the CRC digits of a frame ("4dST;" gives "ST;").
std::string_view frameText(std::string_view frame);

} // namespace sim
