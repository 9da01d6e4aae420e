// The processor time read from /proc, for the benchmarks and the controller's process.
#include "proc_stat.h"
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

double threadCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(ProcStat, ThreadTimeAndANameWithParenthesesAndSpaces)
{
    std::string name;
    double seconds = -1;
    std::thread t([&] {
        prctl(PR_SET_NAME, "a) (b c", 0, 0, 0);
        // Busy until the thread has used 0.3 s of processor time.
        volatile unsigned spin = 0;
        for (const double start = threadCpu(); threadCpu() - start < 0.3;)
            spin = spin + 1;
        const std::string stat = "/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/stat";
        seconds = sim::procCpuSeconds(stat, false, &name);
    });
    t.join();
    EXPECT_EQ(name, "a) (b c");
    EXPECT_GE(seconds, 0.2);
    EXPECT_GE(sim::procCpuSeconds("/proc/self/stat", true), seconds);
}

TEST(ProcStat, UnreadableOrShortFilesGiveMinusOne)
{
    simtest::ScratchDir dir;
    EXPECT_EQ(sim::procCpuSeconds(dir.path() + "/missing"), -1);
    const std::string shortStat = dir.path() + "/stat";
    std::ofstream(shortStat) << "12 (x) S 1 2 3 4 5 6 7 8 9 10\n";
    EXPECT_EQ(sim::procCpuSeconds(shortStat), -1);
    std::ofstream(shortStat) << "12 (x) S 1 2 3 4 5 6 7 8 9 10 100 200 300 400\n";
    EXPECT_DOUBLE_EQ(sim::procCpuSeconds(shortStat), 300.0 / static_cast<double>(sysconf(_SC_CLK_TCK)));
    EXPECT_DOUBLE_EQ(sim::procCpuSeconds(shortStat, true), 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)));
}

} // namespace
