#pragma once
// The simulated unit's front panel in a web browser, served by ampsim on the loopback
// address only: the live panel, the six buttons and the keyboard keys, the bench controls
// of the board model and live readouts. Everything the page does to the unit goes through
// the same control lines as <root>/sim/control (the `apply` function given here).
//
//   GET  /                  the page (one HTML file with its script)
//   GET  /panel.png?after=V the panel as PNG once its version is newer than V (waits up to
//                           panelWaitSeconds, then 204 No Content); header X-Panel-Version
//   GET  /state             JSON: board model readouts, long-press time, the last frames of
//                           the wire log decoded, the last lines of the controller's stderr
//   GET  /tuner             JSON: the tuner's last search as the board saw it (tuner_trace.h)
//   GET  /tuner/map         JSON: the SWR landscape of that search's load and network mode
//   POST /control           control lines in the body; the reply is "" or the errors
#include "board_physics.h"
#include "sim_unit.h"
#include "tuner_trace.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class PanelFrames;

// Applies control lines (one a line); returns the errors, one a line, "" when all applied.
using ControlApplier = std::function<std::string(std::string_view text)>;

struct WebPanelOptions {
    int port = 0;              // 0: any free port
    std::string stderrPath;    // the controller's stderr file ("" none)
    double panelWaitSeconds = 15; // longest wait of /panel.png for a new frame
    ControlApplier apply;
    TunerTrace* tuner = nullptr; // the board's tuner words (nullptr: no tuner plot)
};

class WebPanel {
public:
    // Serves the unit (and its physical model, nullptr when it has none).
    WebPanel(SimUnit& unit, BoardPhysics* physics, WebPanelOptions options);
    ~WebPanel();
    WebPanel(const WebPanel&) = delete;
    WebPanel& operator=(const WebPanel&) = delete;

    // Binds 127.0.0.1 and starts serving. A port already in use falls back to a free one
    // (the port actually bound is port()). Returns false, with `error` set, when nothing
    // could be bound.
    bool start(std::string& error);
    int port() const { return port_; }
    std::string url() const;
    // Stops serving and ends every waiting request; idempotent.
    void stop();

    // The /state, /tuner and /tuner/map documents.
    std::string stateJson() const;
    std::string tunerJson() const;
    std::string tunerMapJson() const;

private:
    struct Server;
    SimUnit& unit_;
    BoardPhysics* physics_;
    WebPanelOptions options_;
    std::unique_ptr<PanelFrames> frames_;
    std::unique_ptr<Server> server_;
    int port_ = 0;
    // The last landscape, made again only for another frequency, output or mode.
    mutable std::mutex mapMutex_;
    mutable std::string mapKey_;
    mutable std::string mapJson_;
};

// The last lines of a text file (at most maxLines, from its last maxBytes).
std::vector<std::string> fileTailLines(const std::string& path, size_t maxBytes, size_t maxLines);
// The long-press time of the unit's buttons in milliseconds, from its setup file (the
// controller's default, 500, when it is not there).
int unitLongPressMs(const std::string& root);

} // namespace sim
