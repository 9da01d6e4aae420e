#include "config/network.h"
#include "core/works.h"
#include "support/sim_root.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

TEST(LanConnection, LastLineOfTheHelperWithoutLineEndOrTabs)
{
    TestRoot root("lan");
    auto works = std::make_unique<Works>();
    root.write("sim/my_zolt", "eth0\nWired\tconnection 1\n");
    ReadLANconnection(works.get());
    EXPECT_STREQ("Wired", works->lanConnection);

    // A name longer than the field is taken in pieces; the last piece stays, cut safely.
    root.write("sim/my_zolt", std::string(40, 'n') + "\n");
    ReadLANconnection(works.get());
    EXPECT_EQ(std::string(9, 'n'), works->lanConnection);

    // The helper prints nothing: no connection.
    std::filesystem::remove(root.path("bin/my_zolt"));
    ReadLANconnection(works.get());
    EXPECT_STREQ("No Conn", works->lanConnection);
}

// The screen loop copies the name every frame while the network-name thread writes it:
// every copy is a whole name (the suite's ThreadSanitizer run sees any unguarded access).
TEST(LanConnection, NameCopiedWhileTheHelperRewritesIt)
{
    TestRoot root("lan-shared");
    auto works = std::make_unique<Works>();
    root.write("sim/my_zolt", "Wired\n");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20; ++i)
            ReadLANconnection(works.get());
        done = true;
    });
    int copies = 0;
    while (!done) {
        const std::string name = lanConnectionName(works.get());
        EXPECT_TRUE(name.empty() || name == "Wired" || name == "No Conn") << name;
        ++copies;
    }
    writer.join();
    EXPECT_GT(copies, 0);
    EXPECT_EQ("Wired", lanConnectionName(works.get()));
}

// The interfaces file with the unit's static stanza among others: comments, an indented
// stanza of another interface, long lines, and more than 49 lines in all.
std::string interfacesWithExtras()
{
    std::string text =
        "# interfaces(5) file used by ifup(8) and ifdown(8)\n"
        "auto lo\n"
        "iface lo inet loopback\n"
        "\n"
        "auto eth0\n"
        "iface eth0 inet static\n"
        "address 192.168.1.42\n"
        "netmask 255.255.255.0\n"
        "gateway 192.168.1.1\n"
        "nameserver 192.168.1.1\n"
        "\n"
        "allow-hotplug wlan0\n"
        "iface wlan0 inet static\n"
        "\taddress 10.0.0.5\n"
        "\tnetmask 255.0.0.0\n"
        "    wpa-conf /etc/wpa_supplicant/wpa_supplicant.conf\n";
    text += "# " + std::string(300, 'x') + "\n";
    for (int i = 0; i < 50; ++i)
        text += "# filler line " + std::to_string(i) + "\n";
    text += "post-up /bin/true";  // the last line has no line end
    return text;
}

TEST(LanAddress, StrictParsingAndTheLenientSplit)
{
    Octets o{};
    EXPECT_TRUE(parseAddress("192.168.1.42", o));
    EXPECT_EQ((Octets{192, 168, 1, 42}), o);
    EXPECT_TRUE(parseAddress("0.0.0.0", o));
    EXPECT_TRUE(parseAddress("255.255.255.255", o));
    EXPECT_EQ((Octets{255, 255, 255, 255}), o);
    // Anything but four octets 0..255 is refused and leaves the octets alone.
    for (const char* bad : {"", "192.168.1", "192.168.1.42.7", "256.1.1.1", "1.2.3.300", "1..2.3", "a.b.c.d",
                            "1.2.3.4 ", " 1.2.3.4", "-1.2.3.4", "1.2.3.0004", "1.2.3.4x", "8.8.8.8 8.8.4.4"}) {
        Octets kept{9, 9, 9, 9};
        EXPECT_FALSE(parseAddress(bad, kept)) << "'" << bad << "'";
        EXPECT_EQ((Octets{9, 9, 9, 9}), kept) << bad;
    }
    // The lenient split takes each part through atoi as a byte, at most four parts.
    SplitAddr("300.2.3", o);
    EXPECT_EQ((Octets{44, 2, 3, 0}), o);
    SplitAddr("10.20.30.40.50", o);
    EXPECT_EQ((Octets{10, 20, 30, 40}), o);
    char text[32];
    SplitAddrInv(text, sizeof text, Octets{255, 0, 7, 128});
    EXPECT_STREQ("255.0.7.128", text);
}

TEST(LanAddress, OctetStepsWrapAndTheCursorCircles)
{
    Octets o{0, 10, 20, 255};
    EXPECT_EQ(3, ModifyIP(2, 3, o));  // 255 + 1 wraps to 0
    EXPECT_EQ(0, o[3]);
    EXPECT_EQ(0, ModifyIP(1, 0, o));  // 0 - 1 wraps to 255
    EXPECT_EQ(255, o[0]);
    EXPECT_EQ(0, ModifyIP(4, 3, o));  // right from the last octet to the first
    EXPECT_EQ(3, ModifyIP(3, 0, o));  // left from the first to the last
    EXPECT_EQ(1, ModifyIP(3, 2, o));
    EXPECT_EQ(2, ModifyIP(4, 1, o));
    const Octets before = o;
    EXPECT_EQ(2, ModifyIP(0, 2, o));  // any other op changes nothing
    EXPECT_EQ(2, ModifyIP(7, 2, o));
    EXPECT_EQ(before, o);
}

TEST(LanSettings, ReadTakesTheLastValueOfEachKeyIndentedOrNot)
{
    TestRoot root("lan-read");
    root.write("etc/network/interfaces", interfacesWithExtras());
    ASSERT_EQ(0, ReadLanParam());
    // The wlan0 stanza's indented address and netmask come last: they are the ones read.
    const LanAddresses text = lanAddresses();
    EXPECT_EQ("10.0.0.5", text.ip);
    EXPECT_EQ("255.0.0.0", text.netMask);
    EXPECT_EQ("192.168.1.1", text.gateway);
    EXPECT_EQ("192.168.1.1", text.dns);
    EXPECT_EQ((Octets{10, 0, 0, 5}), lanValue(LAN_IP).octets);
    EXPECT_TRUE(lanValue(LAN_IP).valid);
    EXPECT_EQ(3, lanValue(LAN_IP).cursor);

    // No gateway and no nameserver: both none.
    root.write("etc/network/interfaces", "iface eth0 inet static\r\naddress 192.168.5.6\r\nnetmask 255.255.0.0\n");
    ASSERT_EQ(0, ReadLanParam());
    EXPECT_EQ("192.168.5.6", lanAddresses().ip);  // a "\r\n" line end is no part of the value
    EXPECT_TRUE(lanValue(LAN_GATEWAY).none);
    EXPECT_TRUE(lanValue(LAN_DNS).none);
    EXPECT_FALSE(lanValue(LAN_IP).none);

    std::filesystem::remove(root.path("etc/network/interfaces"));
    EXPECT_EQ(-1, ReadLanParam());
}

TEST(LanSettings, SavingRewritesOnlyTheUnitsLinesAndRestartsTheInterfaces)
{
    TestRoot root("lan-save");
    const std::string original = interfacesWithExtras();
    root.write("etc/network/interfaces", original);
    ASSERT_EQ(0, ReadLanParam());
    // The address edited: cursor left twice to the third octet, up by two.
    modifyLanValue(LAN_IP, 3);
    modifyLanValue(LAN_IP, 3);
    modifyLanValue(LAN_IP, 2);
    modifyLanValue(LAN_IP, 2);
    EXPECT_EQ(1, lanValue(LAN_IP).cursor);
    EXPECT_EQ("10.2.0.5", lanAddresses().ip);
    modifyLanValue(LAN_DNS, 1);  // 192.168.1.0
    EXPECT_EQ(0, SaveLanParam());

    // Only the column-one keys took the values; the indented ones, the comments, the long
    // line, the lines past the 49th and the last line without its line end are kept.
    std::string expected = original;
    auto replace = [&](const std::string& from, const std::string& to) {
        const size_t at = expected.find(from);
        ASSERT_NE(std::string::npos, at) << from;
        expected.replace(at, from.size(), to);
    };
    replace("\naddress 192.168.1.42\n", "\naddress 10.2.0.5\n");
    replace("\nnetmask 255.255.255.0\n", "\nnetmask 255.0.0.0\n");
    replace("\nnameserver 192.168.1.1\n", "\nnameserver 192.168.1.0\n");
    EXPECT_EQ(expected, root.read("etc/network/interfaces"));
    EXPECT_FALSE(root.exists("etc/network/interfaces.tmp"));
    const std::string commands = root.read("sim/commands.log");
    // The root file system made writable first (the simulated root stands for "/").
    EXPECT_NE(std::string::npos, commands.find("mount -o remount defaults,rw " + root.root() + "/\n")) << commands;
    EXPECT_NE(std::string::npos, commands.find("sudo ifdown --exclude=lo -a\nifdown --exclude=lo -a\n")) << commands;
    EXPECT_NE(std::string::npos, commands.find("sudo ifup --exclude=lo -a\nifup --exclude=lo -a\n")) << commands;

    // A restart that fails is only its status.
    root.write("sim/ifup.fail", "");
    EXPECT_NE(0, SaveLanParam());
    std::filesystem::remove(root.path("sim/ifup.fail"));

    // The root that cannot be made writable: nothing written, nothing restarted.
    root.write("sim/mount.fail-rw", "");
    root.write("sim/commands.log", "");
    modifyLanValue(LAN_IP, 2);
    EXPECT_EQ(-1, SaveLanParam());
    EXPECT_EQ(expected, root.read("etc/network/interfaces"));
    EXPECT_EQ(std::string::npos, root.read("sim/commands.log").find("ifdown"));
}

TEST(LanSettings, AFileWithoutGatewayGetsNoneAndAnEmptyGatewayLineStaysEmpty)
{
    TestRoot root("lan-none");
    const std::string original = "iface eth0 inet static\naddress 192.168.1.42\nnetmask 255.255.255.0\ngateway \n";
    root.write("etc/network/interfaces", original);
    ASSERT_EQ(0, ReadLanParam());
    EXPECT_TRUE(lanValue(LAN_GATEWAY).none);
    EXPECT_EQ(0, SaveLanParam());
    EXPECT_EQ(original, root.read("etc/network/interfaces"));
    // An edited gateway is written from then on.
    modifyLanValue(LAN_GATEWAY, 2);
    EXPECT_EQ(0, SaveLanParam());
    EXPECT_EQ("iface eth0 inet static\naddress 192.168.1.42\nnetmask 255.255.255.0\ngateway 0.0.0.1\n",
              root.read("etc/network/interfaces"));
}

TEST(LanSettings, AnAddressThatIsNotFourOctetsIsNeverWritten)
{
    TestRoot root("lan-bad");
    const std::string original = "auto eth0\niface eth0 inet static\naddress 192.168.1.300\nnetmask 255.255.255.0\n"
                                 "nameserver 8.8.8.8 8.8.4.4\n";
    root.write("etc/network/interfaces", original);
    ASSERT_EQ(0, ReadLanParam());
    EXPECT_FALSE(lanValue(LAN_IP).valid);
    EXPECT_FALSE(lanValue(LAN_DNS).valid);
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, SaveLanParam());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, said.find("network settings not saved: address is not four octets 0-255")) << said;
    EXPECT_EQ(original, root.read("etc/network/interfaces"));
    EXPECT_EQ(std::string::npos, root.read("sim/commands.log").find("ifdown"));

    // Once both were edited on the page they are addresses (the octets the lenient split
    // gave, the last one stepped down), and the save goes through.
    for (int field : {LAN_IP, LAN_DNS})
        while (lanValue(field).cursor != 3)
            modifyLanValue(field, 4);
    modifyLanValue(LAN_IP, 1);
    modifyLanValue(LAN_DNS, 1);
    EXPECT_EQ(0, SaveLanParam());
    EXPECT_EQ("auto eth0\niface eth0 inet static\naddress 192.168.1.43\nnetmask 255.255.255.0\n"
              "nameserver 8.8.8.7\n",
              root.read("etc/network/interfaces"));
}

// A save killed at any moment leaves the old file or the new one, never a mix: a child
// process saves two alternating addresses in a loop and is killed with SIGKILL at varying
// moments, many times.
TEST(LanSettings, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFile)
{
    if (std::getenv("AMPCTL_LAN_SAVE_CHILD")) {
        ASSERT_EQ(0, ReadLanParam());
        for (;;) {
            modifyLanValue(LAN_IP, 2);
            SaveLanParam();
            modifyLanValue(LAN_IP, 1);
            SaveLanParam();
        }
    }
    TestRoot root("lan-kill");
    const std::string first = interfacesWithExtras();
    root.write("etc/network/interfaces", first);
    // The child reads the indented wlan0 address and netmask (they come last) and writes
    // them into the column-one lines, the address alternating between .6 and .5.
    auto saved = [&](const char* address) {
        std::string text = first;
        text.replace(text.find("\naddress 192.168.1.42\n"), 22, std::string("\naddress ") + address + "\n");
        text.replace(text.find("\nnetmask 255.255.255.0\n"), 23, "\nnetmask 255.0.0.0\n");
        return text;
    };
    const std::string second = saved("10.0.0.6");
    const std::string third = saved("10.0.0.5");
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    int rewrites = 0;
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("AMPCTL_LAN_SAVE_CHILD", "1", 1);
            execl(exe, exe, "--gtest_filter=LanSettings.ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFile", nullptr);
            _exit(127);
        }
        usleep(static_cast<useconds_t>(300000 + 120000 * round));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const std::string now = root.read("etc/network/interfaces");
        EXPECT_TRUE(now == first || now == second || now == third) << "round " << round << ":\n" << now;
        rewrites += now != first;
    }
    // The children did rewrite the file (the check above saw more than the original).
    EXPECT_GT(rewrites, 0);
}
