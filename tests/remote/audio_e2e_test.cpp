// Remote audio of the real controller on a simulated unit: both audio threads on the
// simulated USB sound interface, its removal, and the error key's restart of the group.
#include "controller_process.h"
#include "sim_unit.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

TEST(RemoteAudioE2E, LostSoundInterfaceEndsBothThreadsAndTheErrorKeyRestartsThem)
{
    sim::SimUnit unit(freshTempDir("e2e-audio"));
    std::filesystem::create_directories(unit.path("opt/set"));
    std::ofstream(unit.path("opt/set/setup.txt"))
        << "EnableRead: 1\nEnableWrite: 1\nWebSocket: 0\nEnableKeyb: 0\nAudioCompress: 64000\n";
    sim::ControllerProcess ctl(AMPCTL_BIN, unit.root(), AMPCTL_BUILD_DIR "/pictures");
    ASSERT_TRUE(ctl.waitForStderr("capture audio interface hw:1 opened", 40)) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("output audio interface hw:1 opened", 10)) << ctl.stderrText();
    EXPECT_TRUE(ctl.waitForStderr("capture hw_params number of channels set to 1", 5));
    EXPECT_TRUE(ctl.waitForStderr("playback buffer allocated (960)", 5));

    // Pulled out: playback notices at its next 10 ms check, capture within 2 s.
    unit.soundCard()->setPresent(false);
    ASSERT_TRUE(ctl.waitForStderr("th_scrivi ERR\n", 5)) << ctl.stderrText();
    ASSERT_TRUE(ctl.waitForStderr("th_leggi ERR\n", 5)) << ctl.stderrText();
    // Each exit routine raises its error after its ERR line: waited for, not looked up at once.
    EXPECT_TRUE(ctl.waitForStderr("err:9\n", 5)) << ctl.stderrText();
    EXPECT_TRUE(ctl.waitForStderr("err:10\n", 5)) << ctl.stderrText();

    // Plugged in again, the error key restarts the threads that ended on their own. The
    // second exit routine is given the time to finish what it prints first; one still
    // closing its device has already dropped its switch, and the restart waits for it.
    unit.soundCard()->setPresent(true);
    usleep(1000000);
    ASSERT_TRUE(unit.pressButton(1));
    ASSERT_TRUE(ctl.waitForStderr(">>> RESTART REMOTE!\n", 10)) << ctl.stderrText();
    EXPECT_TRUE(ctl.waitForStderr("start audio write\n", 5));
    EXPECT_TRUE(ctl.waitForStderr("start audio read\n", 5));
    EXPECT_TRUE(ctl.waitForStderr("capture audio interface hw:1 opened", 10, 2)) << ctl.stderrText();
    EXPECT_TRUE(ctl.waitForStderr("output audio interface hw:1 opened", 10, 2)) << ctl.stderrText();
    EXPECT_EQ(std::string::npos, ctl.stderrText().find("not started again")) << "each old thread had ended";

    // Both run until the end and are joined in order.
    ASSERT_TRUE(ctl.terminate());
    EXPECT_EQ(0, ctl.waitExit(30));
    EXPECT_TRUE(ctl.waitForStderr("joined th_scrivi end", 5)) << ctl.stderrText();
    EXPECT_TRUE(ctl.waitForStderr("joined th_leggi end", 1));
    unit.stop();
    std::filesystem::remove_all(unit.root());
}

} // namespace
