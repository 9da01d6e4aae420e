#pragma once
// The real ampctl on a simulated unit with a transceiver on dev/ttyUSB1: the physical board
// (a dipole behind the tuner) driven by the maker's transceiver's carriers, the unit's
// control lines, the wire log and screenshots of the panel file.
#include "board_physics.h"
#include "control.h"
#include "controller_process.h"
#include "sim_unit.h"
#include "support/files.h"
#include "support/screenshot.h"
#include "support/wire.h"
#include "tuning_session.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace trxtest {

class TrxStation {
public:
    // Starts the controller after writing the bank's antenna table (its first line names the
    // interface mode: "!Ixo" or "!817") and setup.txt.
    TrxStation(const std::string& name, sim::SerialTransceiver which, const std::string& antennaTable,
               const std::string& setup = "")
        : unit_(freshTempDir(name))
    {
        physics_.setReflection(sim::loadThroughTuner(sim::resonantDipole()));
        unit_.board().state().setPhysics(physics_.hook());
        ports().setConnected(which);
        ports().setDriveHook([this](double watts) { physics_.setDrivePower(watts); });
        std::filesystem::create_directories(unit_.root() + "/opt/set");
        writeFile(unit_.root() + "/opt/set/antenna_b1.txt", antennaTable);
        if (!setup.empty())
            writeFile(unit_.root() + "/opt/set/setup.txt", setup);
        ctl_ = std::make_unique<sim::ControllerProcess>(AMPCTL_BIN, unit_.root(), AMPCTL_BUILD_DIR "/pictures");
    }
    ~TrxStation()
    {
        ctl_->terminate();
        EXPECT_NE(-1, ctl_->waitExit(30)) << "the controller stops in order";
        EXPECT_EQ("", ctl_->sanitizerReports());
        ports().setDriveHook({});
        unit_.board().state().setPhysics({});
        unit_.stop();
        std::filesystem::remove_all(unit_.root());
    }

    sim::SimUnit& unit() { return unit_; }
    sim::TransceiverPorts& ports() { return *unit_.transceivers(); }
    sim::ControllerProcess& ctl() { return *ctl_; }
    std::string control(const std::string& line)
    {
        return sim::applyControlLine(
            sim::ControlTargets{&unit_.board(), &physics_, unit_.frontPanel(), unit_.transceivers()}, line);
    }
    bool waitForScreenLoop() { return ctl_->waitForStderr("Timer thread started", 40); }
    size_t mark() const { return unit_.wireLog().size(); }
    // Waits until the host has sent `text` `count` times since `from`.
    bool waitForHost(const std::string& text, size_t from, double seconds, size_t count = 1)
    {
        return unit_.waitForFrames(
            [&](const std::vector<sim::WireEntry>& log) {
                size_t n = 0;
                for (const std::string& t : hostTexts(log, from))
                    n += t == text;
                return n >= count;
            },
            seconds);
    }
    size_t hostCount(const std::string& text, size_t from) const
    {
        size_t n = 0;
        for (const std::string& t : hostTexts(unit_.wireLog(), from))
            n += t == text;
        return n;
    }
    size_t stderrCount(const std::string& text) const
    {
        const std::string all = ctl_->stderrText();
        size_t n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    }
    void screenshot(const std::string& name) { saveScreenshot(unit_.path("dev/fb0"), name); }

private:
    sim::BoardPhysics physics_;
    sim::SimUnit unit_;
    std::unique_ptr<sim::ControllerProcess> ctl_;
};

} // namespace trxtest
