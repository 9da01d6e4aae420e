// The simulated root: complete, idempotent, and stand-ins that obey their control files.
#include "root_builder.h"
#include "sim_unit.h"
#include "sim_test_util.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using simtest::ScratchDir;
namespace fs = std::filesystem;

namespace {



// Runs a shell command with the unit's PATH in front, as the controller's runner does;
// returns {exit status, stdout}.
std::pair<int, std::string> sh(const std::string& root, const std::string& command)
{
    const std::string full = "export PATH='" + root + "/bin:" + root + "/usr/bin':\"$PATH\"; " + command;
    FILE* p = popen(full.c_str(), "r");
    if (!p)
        return {-1, ""};
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int st = pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

struct Snapshot {
    std::map<std::string, std::string> entries; // path -> kind and detail
};

Snapshot snapshot(const std::string& root)
{
    Snapshot s;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = e.path().string().substr(root.size());
        if (rel.rfind("/sim/", 0) == 0 && rel != "/sim/")
            continue;
        std::string kind;
        if (e.is_symlink())
            kind = "link " + fs::read_symlink(e.path()).string();
        else if (e.is_directory())
            kind = "dir";
        else if (e.is_fifo())
            kind = "fifo";
        else if (e.is_regular_file())
            kind = "file " + std::to_string(e.file_size()) + " " + readFile(e.path().string()).substr(0, 4096);
        else
            kind = "other";
        s.entries[rel] = kind;
    }
    return s;
}

} // namespace

TEST(SimRoot, BuildsEverythingTheControllerFinds)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    auto p = [&](const char* rel) { return root + "/" + rel; };
    EXPECT_TRUE(fs::is_directory(p("opt/set")));
    EXPECT_TRUE(fs::is_empty(p("opt/set")));
    EXPECT_TRUE(fs::is_regular_file(p("opt/good")));
    EXPECT_EQ(fs::file_size(p("dev/fb0")), 1536000u);
    EXPECT_EQ(fs::file_size(p("dev/mem")), 4096u);
    const std::string fb = readFile(p("dev/fb0"));
    EXPECT_EQ(fb.find_first_not_of('\0'), std::string::npos) << "the framebuffer starts black";
    EXPECT_TRUE(fs::is_fifo(p("dev/input/by-id/sim-event-kbd")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(p("dev/tty0"))));
    for (const char* f : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf"}) {
        const std::string link = root + "/usr/share/fonts/truetype/dejavu/" + f;
        EXPECT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_EQ(fs::read_symlink(link), std::string("/usr/share/fonts/truetype/dejavu/") + f);
        EXPECT_TRUE(fs::is_regular_file(link)) << "font installed: " << link;
    }
    EXPECT_EQ(fs::read_symlink(p("opt/fonts/PTS55F_W.ttf")), "/usr/share/fonts/truetype/paratype/PTS55F.ttf");
    EXPECT_EQ(fs::read_symlink(p("opt/fonts/PTS75F_W.ttf")), "/usr/share/fonts/truetype/paratype/PTS75F.ttf");
    EXPECT_TRUE(fs::is_regular_file(p("opt/fonts/PTS55F_W.ttf")));
    EXPECT_TRUE(fs::is_directory(p("tmp")));
    for (const char* s : {"bin/mount", "bin/my_temp", "bin/my_zolt", "bin/lsusb", "bin/sudo", "bin/reboot",
                          "bin/ifdown", "bin/ifup", "bin/ifconfig", "bin/stty", "bin/echo", "usr/bin/fbgrab",
                          "usr/bin/tput", "opt/sshshell", "opt/IxoMav/getpack.sh"}) {
        EXPECT_EQ(access(p(s).c_str(), X_OK), 0) << s;
    }
    EXPECT_NE(readFile(p("etc/network/interfaces")).find("\naddress "), std::string::npos);
}

TEST(SimRoot, SecondBuildChangesNothingAndKeepsSettings)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    writeFile(root + "/opt/set/setup.txt", "WebSocket: 2\n");
    const Snapshot first = snapshot(root);
    EXPECT_EQ(sim::buildRoot(dir.path() + "/"), root);
    const Snapshot second = snapshot(root);
    EXPECT_EQ(first.entries, second.entries);
    EXPECT_EQ(readFile(root + "/opt/set/setup.txt"), "WebSocket: 2\n");
}

TEST(SimRoot, RepairsWhatIsBroken)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    fs::resize_file(root + "/dev/fb0", 10);
    fs::remove(root + "/dev/input/by-id/sim-event-kbd");
    writeFile(root + "/dev/input/by-id/sim-event-kbd", "x");
    fs::remove(root + "/opt/fonts/PTS75F_W.ttf");
    fs::remove(root + "/bin/mount");
    sim::buildRoot(root);
    EXPECT_EQ(fs::file_size(root + "/dev/fb0"), 1536000u);
    EXPECT_TRUE(fs::is_fifo(root + "/dev/input/by-id/sim-event-kbd"));
    EXPECT_TRUE(fs::is_symlink(root + "/opt/fonts/PTS75F_W.ttf"));
    EXPECT_EQ(access((root + "/bin/mount").c_str(), X_OK), 0);
}

TEST(SimRoot, MountSucceedsLogsAndFailsOnDemand)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    const std::string rw = "mount -o remount defaults,rw " + root + "/opt/set";
    const std::string ro = "mount -v -n -o remount -r " + root + "/opt/set";
    EXPECT_EQ(sh(root, rw).first, 0);
    EXPECT_EQ(sh(root, ro).first, 0);
    EXPECT_EQ(readFile(root + "/sim/mount.log"),
              "-o remount defaults,rw " + root + "/opt/set\n-v -n -o remount -r " + root + "/opt/set\n");
    writeFile(root + "/sim/mount.fail-rw", "");
    EXPECT_EQ(sh(root, rw).first, 1);
    EXPECT_EQ(sh(root, ro).first, 0);
    fs::remove(root + "/sim/mount.fail-rw");
    writeFile(root + "/sim/mount.fail-ro", "");
    EXPECT_EQ(sh(root, rw).first, 0);
    EXPECT_EQ(sh(root, ro).first, 1);
    fs::remove(root + "/sim/mount.fail-ro");
    writeFile(root + "/sim/mount.fail", "");
    EXPECT_EQ(sh(root, rw).first, 1);
    EXPECT_EQ(sh(root, ro).first, 1);
    EXPECT_NE(readFile(root + "/sim/commands.log").find("mount -o remount defaults,rw"), std::string::npos);
}

TEST(SimRoot, MyTempPrintsSettableTemperatures)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    EXPECT_EQ(sh(root, "my_temp").second, "45.0\ntemp=48.3'C\n");
    writeFile(root + "/sim/cpu_temp", "81.5\n");
    writeFile(root + "/sim/gpu_temp", "77.0");
    const std::string out = sh(root, "my_temp").second;
    EXPECT_EQ(out, "81.5\ntemp=77.0'C\n");
    // As the controller reads it: the second line's characters 6 to 9.
    const std::string second = out.substr(out.find('\n') + 1);
    EXPECT_EQ(second.substr(5, 4), "77.0");
}

TEST(SimRoot, ReadersPrintTheirControlFiles)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    EXPECT_EQ(sh(root, "my_zolt").second, "eth0\n");
    writeFile(root + "/sim/my_zolt", "wlan0\n");
    EXPECT_EQ(sh(root, "my_zolt").second, "wlan0\n");
    EXPECT_EQ(sh(root, "lsusb"), std::make_pair(0, std::string()));
    writeFile(root + "/sim/lsusb", "Bus 001 Device 004: ID 0d8c:01af C-Media Electronics, Inc.\n");
    EXPECT_EQ(sh(root, "lsusb|grep 0d8c:01af |wc -l").second, "1\n");
    EXPECT_EQ(sh(root, "ifconfig | grep 'inet addr' | grep -v 127.0.0 | cut -d : -f 2 | cut -d ' ' -f 1").second,
              "192.168.1.42\n");
}

TEST(SimRoot, LoggersRecordCallsAndSucceed)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    EXPECT_EQ(sh(root, "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a").first, 0);
    EXPECT_EQ(sh(root, "reboot").first, 0);
    EXPECT_EQ(sh(root, "stty -echo").first, 0);
    EXPECT_EQ(sh(root, root + "/usr/bin/tput clear").first, 0);
    EXPECT_EQ(sh(root, root + "/opt/sshshell").first, 0);
    EXPECT_EQ(readFile(root + "/sim/sudo.log"), "ifdown --exclude=lo -a\nifup --exclude=lo -a\n");
    EXPECT_EQ(readFile(root + "/sim/ifdown.log"), "--exclude=lo -a\n");
    EXPECT_EQ(readFile(root + "/sim/ifup.log"), "--exclude=lo -a\n");
    EXPECT_EQ(readFile(root + "/sim/reboot.log"), "\n");
    EXPECT_EQ(readFile(root + "/sim/commands.log"),
              "sudo ifdown --exclude=lo -a\nifdown --exclude=lo -a\nsudo ifup --exclude=lo -a\n"
              "ifup --exclude=lo -a\nreboot \nstty -echo\ntput clear\nsshshell \n");
    writeFile(root + "/sim/reboot.fail", "");
    EXPECT_EQ(sh(root, "reboot").first, 1);
    EXPECT_EQ(sh(root, root + "/bin/echo -n hi").second, "hi");
}

TEST(SimRoot, FbgrabRunsTheScreenshotTool)
{
    ScratchDir dir;
    const std::string root = sim::buildRoot(dir.path());
    // A stand-in screenshot tool records its arguments.
    const std::string tool = root + "/fake-screenshot";
    writeFile(tool, "#!/bin/sh\necho \"$1 $2\" > \"" + root + "/sim/shot.args\"\n");
    chmod(tool.c_str(), 0755);
    const std::string cmd = "AMPSIM_SCREENSHOT='" + tool + "' " + root + "/usr/bin/fbgrab " + root
        + "/tmp/screen.png >/dev/null 2>&1 </dev/null";
    EXPECT_EQ(sh(root, cmd).first, 0);
    EXPECT_EQ(readFile(root + "/sim/shot.args"), root + "/dev/fb0 " + root + "/tmp/screen.png\n");
    // Without a tool it fails plainly.
    EXPECT_EQ(sh(root, "AMPSIM_SCREENSHOT=/nonexistent " + root + "/usr/bin/fbgrab x.png 2>/dev/null").first, 1);
    // By default it names the tool beside this test binary's build.
    EXPECT_NE(readFile(root + "/usr/bin/fbgrab").find(sim::screenshotToolPath()), std::string::npos);
}

TEST(SimRoot, RunningUnitLinksTheSerialPortsToRawPseudoTerminals)
{
    ScratchDir dir;
    std::string boardPts;
    std::string root;
    {
        sim::SimUnit unit(dir.path());
        root = unit.root();
        for (const char* port : {"dev/ttyAMA0", "dev/ttyUSB0", "dev/ttyUSB1"}) {
            const std::string link = unit.path(port);
            ASSERT_TRUE(fs::is_symlink(link)) << port;
            EXPECT_EQ(fs::read_symlink(link).string().rfind("/dev/pts/", 0), 0u) << port;
            const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(fd, 0) << port;
            termios tio{};
            ASSERT_EQ(tcgetattr(fd, &tio), 0);
            EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u) << port << " is raw";
            EXPECT_EQ(tio.c_oflag & OPOST, 0u) << port;
            ::close(fd);
        }
        boardPts = unit.boardPtyName();
        EXPECT_EQ(fs::read_symlink(unit.path("dev/ttyAMA0")), boardPts);
        // Writes to a transceiver port never block: the simulator drains them.
        const int usb = ::open(unit.path("dev/ttyUSB0").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(usb, 0);
        std::string big(64 * 1024, 'x');
        size_t written = 0;
        const double end = monoSeconds() + 5;
        while (written < big.size() && monoSeconds() < end) {
            const ssize_t n = ::write(usb, big.data() + written, big.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            else
                sleepMs(1);
        }
        EXPECT_EQ(written, big.size());
        ::close(usb);
        // The keyboard FIFO opens without blocking while the unit runs.
        const int kbd = ::open(unit.path("dev/input/by-id/sim-event-kbd").c_str(), O_RDONLY);
        ASSERT_GE(kbd, 0);
        EXPECT_TRUE(unit.writeKeyboard("ab", 2));
        char got[2] = {};
        EXPECT_EQ(::read(kbd, got, 2), 2);
        EXPECT_EQ(std::string(got, 2), "ab");
        ::close(kbd);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/dev/ttyAMA0"))) << "links go with the unit";
}

TEST(SimRoot, TwoUnitsSideBySide)
{
    ScratchDir a, b;
    sim::SimUnit ua(a.path()), ub(b.path());
    EXPECT_NE(ua.boardPtyName(), ub.boardPtyName());
    simtest::Host ha(ua.path("dev/ttyAMA0")), hb(ub.path("dev/ttyAMA0"));
    ua.board().setMeasuredFrequency(1);
    ub.board().setMeasuredFrequency(2);
    EXPECT_EQ(ha.exchange("FM;").substr(5, 11), "00000000001");
    EXPECT_EQ(hb.exchange("FM;").substr(5, 11), "00000000002");
}

TEST(SimRoot, FailedStartStopsCleanly)
{
    ScratchDir dir;
    EXPECT_THROW(sim::SimUnit("/dev/null/unit"), std::runtime_error);
    // The link cannot replace a directory: the unit throws after its threads started.
    const std::string root = sim::buildRoot(dir.path());
    fs::create_directories(root + "/dev/ttyAMA0/blocker");
    EXPECT_THROW(sim::SimUnit{root}, std::runtime_error);
}
