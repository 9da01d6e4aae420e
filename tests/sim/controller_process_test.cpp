// ControllerProcess with a shell script standing in for ampctl: environment, working
// directory, stderr capture, signals and exit status. (The real ampctl is the lead's: the
// end-to-end tests of it live with the link.)
#include "controller_process.h"
#include "root_builder.h"
#include "sim_test_util.h"
#include "support/sanitizer_reports.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using simtest::ScratchDir;

namespace {

std::string script(const std::string& dir, const std::string& name, const std::string& body)
{
    const std::string path = dir + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
    return path;
}

} // namespace

TEST(SimController, EnvironmentWorkingDirectoryAndStderr)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path() + "/root");
    const std::string work = dir.path() + "/pictures";
    std::filesystem::create_directories(work);
    const std::string bin = script(dir.path(), "fake-ampctl",
                                   "echo \"root=$AMPCTL_ROOT\" >&2\n"
                                   "echo \"cwd=$(pwd)\" >&2\n"
                                   "echo \"path=$PATH\" >&2\n"
                                   "echo \"temp=$(my_temp | head -n 1)\" >&2\n"
                                   "exit 3\n");
    sim::ControllerProcess p(bin, root, work);
    EXPECT_EQ(p.waitExit(10), 3);
    EXPECT_FALSE(p.running());
    EXPECT_TRUE(p.waitStderrEnd(5));
    EXPECT_NE(p.stderrText().find("temp="), std::string::npos);
    const std::string err = p.stderrText();
    EXPECT_NE(err.find("root=" + root + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("cwd=" + work + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("path=" + root + "/bin:" + root + "/usr/bin:"), std::string::npos) << err;
    EXPECT_NE(err.find("temp=45.0\n"), std::string::npos) << err;
    EXPECT_EQ(p.stderrPath(), root + "/sim/ampctl.stderr");
    std::ifstream f(p.stderrPath());
    std::string first;
    std::getline(f, first);
    EXPECT_EQ(first, "root=" + root);
}

TEST(SimController, TerminateDeliversSigtermAndReportsTheExitStatus)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    const std::string bin = script(dir.path(), "fake-ampctl",
                                   "trap 'echo bye >&2; exit 0' TERM\n"
                                   "echo ready >&2\n"
                                   "while :; do sleep 0.05; done\n");
    sim::ControllerProcess p(bin, root, dir.path());
    ASSERT_TRUE(p.waitForStderr("ready", 10));
    EXPECT_TRUE(p.running());
    EXPECT_EQ(p.waitExit(0.1), -1) << "still running";
    EXPECT_TRUE(p.terminate());
    EXPECT_EQ(p.waitExit(10), 0);
    EXPECT_TRUE(p.waitForStderr("bye", 5));
    EXPECT_FALSE(p.terminate()) << "already gone";
}

TEST(SimController, SignalDeathIsReportedAs128PlusSignal)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    const std::string bin = script(dir.path(), "fake-ampctl", "exec sleep 30\n");
    sim::ControllerProcess p(bin, root, dir.path());
    p.kill();
    EXPECT_EQ(p.waitExit(10), 128 + 9);
}

TEST(SimController, DestructionKillsARunningChild)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    const std::string bin = script(dir.path(), "fake-ampctl", "exec sleep 30\n");
    pid_t pid;
    {
        sim::ControllerProcess p(bin, root, dir.path());
        pid = p.pid();
        EXPECT_EQ(::kill(pid, 0), 0);
    }
    EXPECT_NE(::kill(pid, 0), 0) << "killed and reaped";
}

TEST(SimController, MissingBinaryOrDirectoryExitsWith127)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    sim::ControllerProcess a(dir.path() + "/no-such-binary", root, dir.path());
    EXPECT_EQ(a.waitExit(10), 127);
    EXPECT_TRUE(a.waitForStderr("cannot run", 5));
    const std::string bin = script(dir.path(), "fake-ampctl", "exit 0\n");
    sim::ControllerProcess b(bin, root, dir.path() + "/no-such-dir");
    EXPECT_EQ(b.waitExit(10), 127);
    EXPECT_TRUE(b.waitForStderr("working directory", 5));
}

TEST(SimController, ExtraEnvironmentAndArguments)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    sim::ControllerOptions o;
    o.binary = script(dir.path(), "fake-ampctl", "echo \"$FOO $1\" >&2\n");
    o.root = root;
    o.workDir = dir.path();
    o.extraEnv = {{"FOO", "bar"}};
    o.args = {"arg1"};
    o.stderrFile = dir.path() + "/err.txt";
    sim::ControllerProcess p(o);
    EXPECT_EQ(p.waitExit(10), 0);
    EXPECT_TRUE(p.waitForStderr("bar arg1\n", 5));
    EXPECT_EQ(p.stderrPath(), dir.path() + "/err.txt");
}

TEST(SimController, AmpsimProgramStartsAndStopsInOrder)
{
    // ampsim --run-ampctl with a stand-in controller: the controller is stopped with
    // SIGTERM first, then the simulator ends, and the wire log and links were there.
    ScratchDir dir;
    const std::string root = dir.path() + "/root";
    const std::string bin = script(dir.path(), "fake-ampctl",
                                   "trap 'echo \"ctl stopping\" >> \"$AMPCTL_ROOT/sim/order\"; exit 0' TERM\n"
                                   "[ -L \"$AMPCTL_ROOT/dev/ttyAMA0\" ] && echo link-ok >&2\n"
                                   "while :; do sleep 0.05; done\n");
    std::filesystem::create_directories(dir.path() + "/pictures");
    sim::ControllerOptions o;
    o.binary = AMPSIM_BIN;
    o.root = root; // not used by ampsim itself
    o.workDir = dir.path();
    // The controller named by a relative path, as ./run does.
    const std::string relBin = std::filesystem::relative(bin, std::filesystem::current_path()).string();
    o.args = {"--root", root, "--run-ampctl", relBin, "--pictures", dir.path() + "/pictures", "--no-pace"};
    o.stderrFile = dir.path() + "/ampsim.stderr";
    sim::ControllerProcess ampsim(o);
    ASSERT_TRUE(ampsim.waitForStderr("link-ok", 20)) << ampsim.stderrText();
    EXPECT_TRUE(ampsim.interrupt());
    EXPECT_EQ(ampsim.waitExit(30), 0) << ampsim.stderrText();
    const std::string err = ampsim.stderrText();
    const size_t a = err.find("stopping the controller");
    const size_t b = err.find("the controller stopped (status 0)");
    const size_t c = err.find("ampsim: stopped");
    EXPECT_NE(a, std::string::npos) << err;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    std::ifstream order(root + "/sim/order");
    std::string line;
    std::getline(order, line);
    EXPECT_EQ(line, "ctl stopping");
    EXPECT_TRUE(std::filesystem::exists(root + "/sim/ampctl.stderr"));
}

TEST(SimController, AmpsimRejectsBadArguments)
{
    ScratchDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--root"}, {"--bogus"}, {"--root", dir.path(), "--run-ampctl"}}) {
        sim::ControllerOptions o;
        o.binary = AMPSIM_BIN;
        o.root = dir.path();
        o.workDir = dir.path();
        o.args = args;
        o.stderrFile = dir.path() + "/ampsim.stderr";
        sim::ControllerProcess ampsim(o);
        EXPECT_EQ(ampsim.waitExit(10), 2);
        EXPECT_TRUE(ampsim.waitForStderr("usage: ampsim --root DIR", 5));
    }
}

namespace {

std::string handedBinary;
std::string handedReports;

void keepReport(const std::string& binary, const std::string& reports)
{
    handedBinary = binary;
    handedReports += reports;
}

} // namespace

TEST(SimController, SanitizerReportsOfTheChildReachTheHandler)
{
    // A child that logs, reports a race the way ThreadSanitizer does, logs on and exits 0:
    // only the report block is handed on, once, when the process object ends.
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    const std::string bin = script(dir.path(), "fake-ampctl",
                                   "echo 'START Main' >&2\n"
                                   "echo '==================' >&2\n"
                                   "echo 'WARNING: ThreadSanitizer: data race (pid=1)' >&2\n"
                                   "echo '  Write of size 4 by thread T1:' >&2\n"
                                   "echo 'SUMMARY: ThreadSanitizer: data race link.cpp:10 in Linear' >&2\n"
                                   "echo '==================' >&2\n"
                                   "echo 'Closed!' >&2\n");
    handedBinary.clear();
    handedReports.clear();
    sim::setSanitizerReportHandler(keepReport);
    {
        sim::ControllerProcess p(bin, root, dir.path());
        EXPECT_EQ(p.waitExit(10), 0);
        EXPECT_TRUE(p.waitStderrEnd(5));
        const std::string reports = p.sanitizerReports();
        EXPECT_EQ(0u, reports.find("WARNING: ThreadSanitizer: data race (pid=1)\n")) << reports;
        EXPECT_NE(std::string::npos, reports.find("SUMMARY: ThreadSanitizer: data race link.cpp:10 in Linear\n"));
        EXPECT_EQ(std::string::npos, reports.find("START Main"));
        EXPECT_EQ(std::string::npos, reports.find("Closed!"));
        EXPECT_TRUE(handedReports.empty()) << "handed on at the end";
    }
    sim::setSanitizerReportHandler(failOnSanitizerReport);
    EXPECT_EQ(bin, handedBinary);
    EXPECT_NE(std::string::npos, handedReports.find("WARNING: ThreadSanitizer: data race (pid=1)"));

    // The other sanitizers' reports count too; a clean log has none.
    EXPECT_EQ("", sim::sanitizerReportsIn("START Main\nClosed!\n"));
    const std::string asan = sim::sanitizerReportsIn("a\n==1==ERROR: AddressSanitizer: heap-use-after-free\n#0 x\n");
    EXPECT_EQ(0u, asan.find("==1==ERROR: AddressSanitizer: heap-use-after-free")) << asan;
    const std::string ubsan = sim::sanitizerReportsIn("a\nlink.cpp:3:5: runtime error: signed integer overflow\n");
    EXPECT_EQ("link.cpp:3:5: runtime error: signed integer overflow\n", ubsan);
}
