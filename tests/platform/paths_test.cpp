// The root mapping of shell commands, with the command texts the program runs.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

class RootPrefix {
public:
    explicit RootPrefix(const char* root) { setenv("AMPCTL_ROOT", root, 1); }
    ~RootPrefix() { unsetenv("AMPCTL_ROOT"); }
};

const std::vector<std::pair<std::string, std::string>> commands = {
    // Words that are paths.
    {"mount -o remount defaults,rw /opt/set", "mount -o remount defaults,rw /R/opt/set"},
    {"mount -v -n -o remount -r /opt/set", "mount -v -n -o remount -r /R/opt/set"},
    {"mount -o remount defaults,rw /", "mount -o remount defaults,rw /R/"},
    {"rm -f /opt/set/atu_ant2_b3.txt", "rm -f /R/opt/set/atu_ant2_b3.txt"},
    {"rm /opt/set/LOGtemp.txt", "rm /R/opt/set/LOGtemp.txt"},
    {"/bin/stty sane", "/R/bin/stty sane"},
    {"/usr/bin/tput clear", "/R/usr/bin/tput clear"},
    {"/opt/sshshell", "/R/opt/sshshell"},
    {"/opt/IxoMav/getpack.sh", "/R/opt/IxoMav/getpack.sh"},
    // Redirections: the target is mapped, /dev/null and "2>&1" stay.
    {"rm -f /opt/good >/dev/null 2>&1", "rm -f /R/opt/good >/dev/null 2>&1"},
    {"/usr/bin/fbgrab /tmp/screen.png >/dev/null 2>&1 </dev/null",
     "/R/usr/bin/fbgrab /R/tmp/screen.png >/dev/null 2>&1 </dev/null"},
    {"/bin/echo -e -n '\x1b[?25l' >/dev/tty0", "/R/bin/echo -e -n '\x1b[?25l' >/R/dev/tty0"},
    {"my_temp 2>/tmp/x", "my_temp 2>/R/tmp/x"},
    {"my_zolt >>/opt/set/x </opt/set/y", "my_zolt >>/R/opt/set/x </R/opt/set/y"},
    {"ls >|/tmp/x", "ls >|/R/tmp/x"},
    // Nothing to map.
    {"stty -echo", "stty -echo"},
    {"reboot", "reboot"},
    {"lsusb | grep 0d8c", "lsusb | grep 0d8c"},
    {"lsusb|grep 0d8c:01af |wc -l", "lsusb|grep 0d8c:01af |wc -l"},
    {"sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a",
     "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a"},
    {"ifconfig | grep 'inet addr' | grep -v 127.0.0 | cut -d : -f 2 | cut -d ' ' -f 1",
     "ifconfig | grep 'inet addr' | grep -v 127.0.0 | cut -d : -f 2 | cut -d ' ' -f 1"},
    {"echo a  b > x", "echo a  b > x"},
};

TEST(MapCommand, PathsAndRedirectionTargetsGoUnderTheRoot)
{
    RootPrefix root("/R/");
    for (const auto& [command, mapped] : commands)
        EXPECT_EQ(mapped, mapCommand(command)) << command;
}

TEST(MapCommand, OnTheUnitNothingChanges)
{
    unsetenv("AMPCTL_ROOT");
    for (const auto& [command, mapped] : commands)
        EXPECT_EQ(command, mapCommand(command));
    RootPrefix empty("");
    EXPECT_EQ("rm -f /opt/good >/dev/null 2>&1", mapCommand("rm -f /opt/good >/dev/null 2>&1"));
}

} // namespace
