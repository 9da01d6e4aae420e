#pragma once
// Simulated units for the remote end-to-end tests: a unit with a band table, a load on the
// board and the setup lines of the test; a server unit with ampctl listening; and a server
// and a client unit (each with its own ampctl) connected over the loopback.
#include "board_physics.h"
#include "control.h"
#include "controller_process.h"
#include "remote/ws_peer.h"
#include "sim_unit.h"
#include "support/board_setup.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace wstest {

inline const std::string PASSWORD = "quintabrezza";
// Bank 0's antenna table: the Generic interface (the frequency counter), 20 m on antenna 1.
inline const std::string GENERIC_20M = "!Gen\n20m 14000000 14350000 1 1 0 0 0\n";
// Bank 0's antenna table for a unit that follows the maker's transceiver on its framed
// serial link (interface mode 1): 40 m and 20 m on antenna 1.
inline const std::string TWO_BANDS_IXO = "!Ixo\n40m 7000000 7300000 1 1 0 0 0\n20m 14000000 14350000 1 1 0 0 0\n";

// A unit with a band table, antenna tables for banks 0 (antennaTable) and 1 (20 m on
// antenna 2), 10 W of drive into a load of SWR 2 on 14.2 MHz, and setup lines of the test.
struct WsUnit {
    WsUnit(const std::string& name, const std::string& setup, const std::string& antennaTable = GENERIC_20M)
        : unit(freshTempDir(name))
    {
        writeFile(unit.path("opt/set/config.txt"),
                  "0 30000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n"
                  "30000000 54000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n");
        writeFile(unit.path("opt/set/antenna.txt"), antennaTable);
        writeFile(unit.path("opt/set/antenna_b1.txt"), "!Gen\n20m 14000000 14350000 1 2 0 0 0\n");
        writeFile(unit.path("opt/set/setup.txt"), setup);
        attachCalibratedBoard(unit, physics);
        EXPECT_EQ("", sim::applyControlLine(unit.board(), "frequency 14200000", &physics));
    }
    ~WsUnit()
    {
        unit.board().state().setPhysics({});
        unit.stop();
        std::filesystem::remove_all(unit.root());
    }
    // One control line of the simulated unit (board, panel, transceivers and CAT port).
    std::string control(const std::string& line)
    {
        return sim::applyControlLine(sim::ControlTargets{&unit.board(), &physics, unit.frontPanel(), unit.transceivers()},
                                     line);
    }
    sim::SimUnit unit;
    sim::BoardPhysics physics;
};

inline std::string serverSetup(int port, bool screenLoop = true)
{
    return "WebSocket: 1\nNumBanco: 0\nTcpPort: " + std::to_string(port) + "\nEnableTime: " + (screenLoop ? "1" : "0") + "\n";
}

inline std::string clientSetup(int port)
{
    return "WebSocket: 2\nNumBanco: 0\nServer: 127.0.0.1\nTcpPort: " + std::to_string(port) + "\n";
}

// A server unit with ampctl started on it, listening on a free port.
struct ServerUnit {
    explicit ServerUnit(const std::string& name, bool screenLoop = true, const std::string& moreSetup = "")
        : port(hamlibtest::freePort()), u(name, serverSetup(port, screenLoop) + moreSetup),
          ctl(AMPCTL_BIN, u.unit.root(), AMPCTL_BUILD_DIR "/pictures")
    {
    }
    bool listening() { return ctl.waitForStderr("Listening on port " + std::to_string(port), 60); }
    // The next peer of the unit's form logs in and gets status frames.
    bool servesGoodPeer()
    {
        Peer good(port);
        return good.login(PASSWORD) && good.readTagged("ST", 5).has_value();
    }
    void stop()
    {
        EXPECT_TRUE(ctl.terminate());
        EXPECT_EQ(0, ctl.waitExit(30));
    }
    int port;
    WsUnit u;
    sim::ControllerProcess ctl;
};

// A server unit and a client unit pointed at it. The controllers start with start() (the
// test may set the units up first); the server's may be stopped and started again.
struct ServerAndClient {
    ServerAndClient(const std::string& name, const std::string& moreSetup = "", const std::string& antennaTable = GENERIC_20M)
        : port(hamlibtest::freePort()), server(name + "-server", serverSetup(port) + moreSetup, antennaTable),
          client(name + "-client", clientSetup(port) + moreSetup, antennaTable)
    {
    }
    ~ServerAndClient()
    {
        for (auto* ctl : {&ctlClient, &ctlServer}) {
            if (!*ctl)
                continue;
            EXPECT_TRUE((*ctl)->terminate());
            EXPECT_EQ(0, (*ctl)->waitExit(30));
            EXPECT_EQ("", (*ctl)->sanitizerReports());
        }
    }
    void start()
    {
        startServer();
        ctlClient = std::make_unique<sim::ControllerProcess>(AMPCTL_BIN, client.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    }
    void startServer()
    {
        ctlServer = std::make_unique<sim::ControllerProcess>(AMPCTL_BIN, server.unit.root(), AMPCTL_BUILD_DIR "/pictures");
    }
    int port;
    WsUnit server;
    WsUnit client;
    std::unique_ptr<sim::ControllerProcess> ctlServer;
    std::unique_ptr<sim::ControllerProcess> ctlClient;
};

} // namespace wstest
