// Fan table and fan decision, temperature alarms with their hysteresis, the CPU fan, the
// supply voltage, my_temp's output and the temperature log file.
#include "amp_test_util.h"
#include "amplifier/table_file.h"
#include "amplifier/thermal.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}
std::unique_ptr<Works> fanWorks()
{
    auto works = freshWorks();
    works->startupDone = 1;
    works->ventolaRows = {{40, 30}, {50, 60}, {60, 100}};
    works->fanPercentOld = 30;
    return works;
}

// One fan decision at temperature t; returns the commands it queued. The link's sending
// of a fan command (which clears fanCmdPending) is done here.
std::vector<int> fanAt(Works* works, float t)
{
    works->temp1 = t;
    works->temp2 = 20;
    searchPercentVentola(works);
    std::vector<int> queued = drainQueue(works);
    works->fanCmdPending = 0;
    return queued;
}
} // namespace

TEST(Fan, TableRowsAndSlowDownHysteresis)
{
    auto works = fanWorks();
    EXPECT_TRUE(fanAt(works.get(), 45).empty()) << "30 percent already set";
    EXPECT_EQ(std::vector<int>{23}, fanAt(works.get(), 55));
    EXPECT_EQ(60, works->fanPercent);
    EXPECT_TRUE(fanAt(works.get(), 49.5f).empty()) << "not yet 1 degree below the 50 row";
    EXPECT_EQ(60, works->fanPercentOld);
    EXPECT_EQ(std::vector<int>{23}, fanAt(works.get(), 48.9f));
    EXPECT_EQ(30, works->fanPercentOld);
    EXPECT_TRUE(fanAt(works.get(), 10).empty()) << "below the first row its percent applies";
    EXPECT_EQ(30, works->fanPercent);
    EXPECT_EQ(std::vector<int>{23}, fanAt(works.get(), 75));
    EXPECT_EQ(100, works->fanPercent);

    // Nothing while a fan command waits to be sent, nothing before start-up is done.
    works->fanCmdPending = 1;
    works->temp1 = 10;
    searchPercentVentola(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty());
    works->fanCmdPending = 0;
    works->startupDone = 0;
    searchPercentVentola(works.get());
    EXPECT_TRUE(drainQueue(works.get()).empty());
}

TEST(Fan, EmptyTableRunsTheFanAtFullSpeed)
{
    auto works = freshWorks();
    works->startupDone = 1;
    works->fanPercentOld = -1;
    EXPECT_EQ(std::vector<int>{23}, fanAt(works.get(), 30));
    EXPECT_EQ(FAN_PERCENT_WITHOUT_TABLE, works->fanPercent);
    EXPECT_EQ(100, works->fanPercentOld);
    EXPECT_TRUE(fanAt(works.get(), 20).empty());
    EXPECT_FLOAT_EQ(0.0f, SearchTemperatureFromVentola(works.get(), 100));
}

TEST(Fan, CpuFanWhileTheAmplifierNeedsNone)
{
    auto works = freshWorks();
    works->startupDone = 1;
    works->ventolaRows = {{0, 0}, {50, 60}};
    works->fanPercentOld = 0;
    works->cpuTemp1 = 80;
    EXPECT_EQ(std::vector<int>{41}, fanAt(works.get(), 30));
    EXPECT_EQ(70, works->fanPercentCPU);
    works->cpuTemp1 = 79.5f;
    EXPECT_TRUE(fanAt(works.get(), 30).empty()) << "hysteresis";
    works->cpuTemp1 = 78.9f;
    EXPECT_EQ(std::vector<int>{41}, fanAt(works.get(), 30));
    EXPECT_EQ(0, works->fanPercentCPU);
}

TEST(Thermal, AlarmWarningAndHysteresis)
{
    auto works = freshWorks();
    GestTemperatureFunction(works.get(), 2, 0, 23, 59.5f, 60);
    EXPECT_EQ(std::vector<int>{23}, errorListCopy(works.get()));
    EXPECT_TRUE(drainQueue(works.get()).empty());

    GestTemperatureFunction(works.get(), 2, 0, 23, 60.5f, 60);
    EXPECT_EQ(std::vector<int>{2}, errorListCopy(works.get()));
    EXPECT_EQ((std::vector<int>{18, 16, 19}), drainQueue(works.get())) << "MP1, AT11, AB0";
    GestTemperatureFunction(works.get(), 2, 0, 23, 61, 60);
    EXPECT_TRUE(drainQueue(works.get()).empty()) << "an alarm already listed queues nothing";

    GestTemperatureFunction(works.get(), 2, 0, 23, 59.2f, 60);
    EXPECT_EQ(std::vector<int>{2}, errorListCopy(works.get())) << "inside the hysteresis";
    GestTemperatureFunction(works.get(), 2, 0, 23, 58.9f, 60);
    EXPECT_EQ(std::vector<int>{0}, errorListCopy(works.get()));
    EXPECT_EQ(std::vector<int>{20}, drainQueue(works.get())) << "AB1";

    // Before the board has answered, no "AB0;" goes with the alarm.
    auto early = freshWorks(false);
    GestTemperatureFunction(early.get(), 22, 21, 24, 81, 80);
    EXPECT_EQ((std::vector<int>{18, 16}), drainQueue(early.get()));
}

TEST(Thermal, SupplyVoltageFahrenheitAndCpuTemperatureText)
{
    auto works = freshWorks();
    works->ampModel = 0;
    EXPECT_NEAR(21.63f, CalvTensVadcAmp(works.get(), 255), 0.01f);
    EXPECT_NEAR(21.63f, CalvTensVadcAmp(works.get(), 0x1FF), 0.01f) << "8 bits";
    works->ampModel = '1';
    EXPECT_NEAR(63.8f, CalvTensVadcAmp(works.get(), 255), 0.01f);
    EXPECT_FLOAT_EQ(212.0f, ConversionCelsius_to_Fahrenheit(100));
    EXPECT_FLOAT_EQ(-40.0f, ConversionCelsius_to_Fahrenheit(-40));

    float a = 0, b = 0;
    ASSERT_TRUE(parseCpuTemps("51.2\ntemp=48.3'C\n", a, b));
    EXPECT_FLOAT_EQ(51.2f, a);
    EXPECT_FLOAT_EQ(48.3f, b);
    a = b = -1;
    EXPECT_FALSE(parseCpuTemps("51.2\n", a, b));
    EXPECT_FALSE(parseCpuTemps("51.2\ntemp=4", a, b));
    EXPECT_FALSE(parseCpuTemps("", a, b));
    // A field without a number, or one that is not finite, is no reading either.
    EXPECT_FALSE(parseCpuTemps("51.2\ntemp=nan'C\n", a, b));
    EXPECT_FALSE(parseCpuTemps("inf\ntemp=48.3'C\n", a, b));
    EXPECT_FALSE(parseCpuTemps("1e99\ntemp=48.3'C\n", a, b));
    EXPECT_FALSE(parseCpuTemps("error\ntemp=48.3'C\n", a, b));
    EXPECT_FALSE(parseCpuTemps("51.2\ntemp=--.-'C\n", a, b));
    EXPECT_FLOAT_EQ(-1.0f, a);
    EXPECT_FLOAT_EQ(-1.0f, b);
    // A long first line is one line: its rest is not taken for the second.
    ASSERT_TRUE(parseCpuTemps(std::string(40, '7') + "\ntemp=12.5'C\n", a, b));
    EXPECT_FLOAT_EQ(12.5f, b);
}

TEST(Thermal, ReadCpuTempRunsMyTemp)
{
    TestRoot root("cputemp");
    root.write("sim/cpu_temp", "61.5");
    root.write("sim/gpu_temp", "57.2");
    auto works = freshWorks();
    ReadCPUTemp(works.get());
    EXPECT_FLOAT_EQ(61.5f, works->cpuTemp1);
    EXPECT_FLOAT_EQ(57.2f, works->cpuTemp2);

    // my_temp fails: the last readings stay, the failure is logged, the program goes on.
    root.write("sim/my_temp.fail", "");
    root.write("sim/cpu_temp", "70.0");
    testing::internal::CaptureStderr();
    ReadCPUTemp(works.get());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FLOAT_EQ(61.5f, works->cpuTemp1);
    EXPECT_FLOAT_EQ(57.2f, works->cpuTemp2);
    EXPECT_NE(std::string::npos, err.find("ReadCPUTemp: no reading from my_temp\n"));

    // The rest of the streak is quiet; the reading's return is logged once, and a new
    // streak is logged again.
    testing::internal::CaptureStderr();
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(ReadCPUTemp(works.get()));
    root.write("sim/cpu_temp", "70.0");
    std::filesystem::remove(root.path("sim/my_temp.fail"));
    EXPECT_TRUE(ReadCPUTemp(works.get()));
    EXPECT_TRUE(ReadCPUTemp(works.get()));
    root.write("sim/my_temp.fail", "");
    EXPECT_FALSE(ReadCPUTemp(works.get()));
    EXPECT_FALSE(ReadCPUTemp(works.get()));
    const std::string streak = testing::internal::GetCapturedStderr();
    EXPECT_FLOAT_EQ(70.0f, works->cpuTemp1);
    EXPECT_EQ(1u, countOf(streak, "ReadCPUTemp: no reading from my_temp")) << streak;
    EXPECT_EQ(1u, countOf(streak, "ReadCPUTemp: my_temp reads again after 6 failed runs")) << streak;
}

TEST(Thermal, HungMyTempIsKilledAtItsTimeOut)
{
    TestRoot root("cputemp-hung");
    auto works = freshWorks();
    ASSERT_TRUE(ReadCPUTemp(works.get())) << "the root's own my_temp answers";
    works->cpuTemp1 = 40.0f;
    // A helper that never answers: it notes its process and sleeps on.
    root.write("bin/my_temp", "#!/bin/sh\necho $$ > \"$AMPCTL_ROOT/sim/my_temp.pid\"\necho 50.0\nexec sleep 1000\n");
    std::filesystem::permissions(root.path("bin/my_temp"), std::filesystem::perms::owner_all);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ReadCPUTemp(works.get()));
    EXPECT_FALSE(ReadCPUTemp(works.get()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FLOAT_EQ(40.0f, works->cpuTemp1) << "half an answer is no reading";
    EXPECT_EQ(1u, countOf(err, "no reading from my_temp (no answer within the time-out)")) << err;
    // The helper and what it started are gone, not left sleeping.
    const pid_t helper = std::stoi(root.read("sim/my_temp.pid"));
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = kill(helper, 0) != 0 && errno == ESRCH;
        if (!gone)
            usleep(50000);
    }
    EXPECT_TRUE(gone) << "my_temp " << helper << " still runs";
}

TEST(TempLog, HeaderRecordsRestartAndReadOnlyPartition)
{
    TestRoot root("templog");
    auto works = freshWorks();
    works->temp1 = 41.25f;
    works->temp2 = 7.5f;
    works->pwrFwd = 100.04f;
    works->swr = 1.5f;
    works->supply[3] = 255;
    works->ampModel = 0;
    works->rawCurrent = 2915;  // 10.0 A
    works->statoAmp[1] = 1;

    LogTempFunction(works.get(), 0);
    works->statoAmp[1] = 0;
    LogTempFunction(works.get(), 1);
    const std::string text = root.read("opt/set/LOGtemp.txt");
    ASSERT_EQ(0u, text.find(";TX,Temp1,Temp2,FDD,SWR\n")) << text;
    std::vector<std::string> lines = splitTableLines(text, 1000);
    ASSERT_EQ(3u, lines.size()) << text;
    // "YYYY-MM-DD HH:MM:SS" then the fields.
    ASSERT_GE(lines[1].size(), 19u);
    EXPECT_EQ('-', lines[1][4]);
    EXPECT_EQ(':', lines[1][13]);
    EXPECT_EQ(" , 1,41.2,07.5,100.0W,1.50,21.6V,10.0A", lines[1].substr(19));
    EXPECT_EQ(" , 0,41.2,07.5,100.0W,1.50,21.6V,10.0A -> protezione attiva", lines[2].substr(19));

    // Mode -1 removes the file.
    LogTempFunction(works.get(), -1);
    EXPECT_FALSE(root.exists("opt/set/LOGtemp.txt"));

    // A partition that cannot be remounted read-write: nothing is written.
    root.write("sim/mount.fail-rw", "");
    testing::internal::CaptureStderr();
    LogTempFunction(works.get(), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(root.exists("opt/set/LOGtemp.txt"));
    EXPECT_NE(std::string::npos, err.find("can't mount rw /opt/set/ error")) << err;
}
