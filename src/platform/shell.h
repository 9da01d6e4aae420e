#pragma once
// Shell commands of the unit run through /bin/sh with the inherited environment and PATH,
// so a simulated unit can stand in for mount, my_temp, lsusb, sudo, reboot and the rest.
#include <string>
#include <string_view>

// Runs the command (absolute paths in it mapped to the root); returns the system() status:
// 0 on success, non-zero on failure (errno is kept from the failure where there is one).
int runShell(std::string_view command);
// Runs the command and returns what it printed on standard output ("" on failure).
std::string readShell(std::string_view command);

// How a command run with a time-out ended.
enum class ShellOutcome { Done, Failed, TimedOut };
// Runs the command as readShell does, in a process group of its own, and reads what it
// prints into out. A command still running after timeoutMs is killed with its whole group
// (the shell and whatever it started): a hung helper costs at most the time-out. Done
// only when the command ended with status 0.
ShellOutcome readShellWithin(std::string_view command, int timeoutMs, std::string& out);
