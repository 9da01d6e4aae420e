// The real ampctl on the simulated unit, whose board follows its physical model: the
// start-up thresholds and the fan table on the wire, the temperature log written at the first
// transmission and at an alarm (with the measured power and SWR of a load of SWR 2), the
// alarm's protection commands and their end, and a log write refused by a read-only
// settings partition.
#include "amplifier/table_file.h"
#include "board_physics.h"
#include "controller_process.h"
#include "sim_unit.h"
#include "support/board_setup.h"
#include "support/files.h"
#include "support/wire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {



// Hosts texts sent after entry `from` contain `wanted` in this order.
bool sentInOrder(sim::SimUnit& unit, size_t from, const std::vector<std::string>& wanted)
{
    return unit.waitForFrames(
        [&](const auto& log) {
            size_t k = 0;
            for (const std::string& t : hostTexts(log, from))
                if (k < wanted.size() && t == wanted[k])
                    k++;
            return k == wanted.size();
        },
        20);
}

// Field `index` (0-based, comma separated) of a log record.
std::string field(const std::string& record, int index)
{
    std::stringstream s(record);
    std::string f;
    for (int i = 0; i <= index; i++)
        std::getline(s, f, ',');
    return f;
}

} // namespace

TEST(AmplifierE2E, ThresholdsFanAlarmAndTemperatureLog)
{
    sim::SimUnit unit(freshTempDir("amp-e2e"));
    // One band from 0 Hz (the controller's frequency stays 0 without a transceiver) to
    // 30 MHz: forward 1000 W at 4000, reflected 250 W at 4000, input 10 W at 1000;
    // limits 30 W in, 30 A, 200 W reflected, 1100 W forward.
    writeFile(unit.path("opt/set/config.txt"),
              "; band table\n"
              "0 30000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n"
              "30000000 54000000 1000 4000 250 4000 10 1000 0 30 30 200 1100 0 0 0 0 0 0 0 0 0 0 0\n");
    writeFile(unit.path("opt/set/ventola.txt"), "; fan\n20 30\n50 60\n60 100\n");
    writeFile(unit.path("opt/set/setup.txt"), "EnableLOGTemp: 1\n");
    sim::BoardPhysics physics;
    attachCalibratedBoard(unit, physics);
    {
        sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
        // The initialisation sends thresholds: the start-up defaults, since reading setup.txt
        // puts them back before the link sends them (the band row's follow a frequency change).
        ASSERT_TRUE(sentInOrder(unit, 0, {"MP0;", "TS4095409515003700;", "FN1100;"})) << ctl.stderrText();
        // Transmitting from the start: the log starts afresh with a record.
        ASSERT_TRUE(ctl.waitForStderr("REMOVE file LOG", 20)) << ctl.stderrText();
        // Once start-up is over, the fan follows the table: 40 degrees is the 30 percent row.
        ASSERT_TRUE(unit.waitForFrame("FN1030;", true, 30, 1, true)) << ctl.stderrText();
        std::string log = readFile(unit.path("opt/set/LOGtemp.txt"));
        ASSERT_EQ(0u, log.find(";TX,Temp1,Temp2,FDD,SWR\n")) << log;

        // Heat sink at 70 degrees: alarm, protection on, fan at full speed.
        size_t mark = unit.wireLog().size();
        physics.setTemperatures(70, 30);
        ASSERT_TRUE(sentInOrder(unit, mark, {"MP1;", "AT11;", "AB0;"})) << ctl.stderrText();
        ASSERT_TRUE(sentInOrder(unit, mark, {"FN1100;"}));
        ASSERT_TRUE(ctl.waitForStderr("TEMP ALLARM", 5));
        // The alarm restarts the log: at the next status reply (still transmitting) the file
        // begins afresh with a record of the readings taken before the protection acted.
        ASSERT_TRUE(ctl.waitForStderr("REMOVE file LOG", 5, 2)) << ctl.stderrText();
        log = readFile(unit.path("opt/set/LOGtemp.txt"));
        std::vector<std::string> lines = splitTableLines(log, 1000);
        ASSERT_EQ(2u, lines.size()) << log;
        EXPECT_EQ(";TX,Temp1,Temp2,FDD,SWR", lines[0]);
        const std::string& record = lines[1];
        EXPECT_EQ(" 1", field(record, 1)) << record;
        EXPECT_NEAR(100.0, std::atof(field(record, 4).c_str()), 2.0) << record;
        EXPECT_EQ('W', field(record, 4).back()) << record;
        EXPECT_NEAR(2.0, std::atof(field(record, 5).c_str()), 0.04) << record;
        EXPECT_GT(std::atof(field(record, 2).c_str()), 60.0) << record;
        EXPECT_EQ('V', field(record, 6).back()) << record;
        EXPECT_EQ('A', field(record, 7).back()) << record;

        // Cooled below the hysteresis: the amplifier goes to stand-by.
        mark = unit.wireLog().size();
        physics.setTemperatures(40, 30);
        ASSERT_TRUE(sentInOrder(unit, mark, {"AB1;"})) << ctl.stderrText();
        ASSERT_TRUE(ctl.waitForStderr("END TEMPERATURE ERROR (2)", 5));

        // A second alarm with the settings partition not remountable: nothing is written.
        const std::string before = readFile(unit.path("opt/set/LOGtemp.txt"));
        writeFile(unit.path("sim/mount.fail-rw"), "");
        mark = unit.wireLog().size();
        physics.setTemperatures(70, 30);
        ASSERT_TRUE(sentInOrder(unit, mark, {"MP1;", "AT11;", "AB0;"})) << ctl.stderrText();
        ASSERT_TRUE(ctl.waitForStderr("can't mount rw /opt/set/ error", 5)) << ctl.stderrText();
        EXPECT_EQ(before, readFile(unit.path("opt/set/LOGtemp.txt")));

        ASSERT_TRUE(ctl.terminate());
        EXPECT_EQ(0, ctl.waitExit(30)) << ctl.stderrText();
    }
    unit.board().state().setPhysics({});
    unit.stop();
    std::filesystem::remove_all(unit.root());
}
