#pragma once
// Builds (idempotently) the directory tree that AMPCTL_ROOT points at: what the controller
// finds of the unit outside its own memory.
//
//   opt/set/                         settings: left empty (the controller writes its own;
//                                    ampsim --show-job seeds a few, job_settings.h);
//                                    existing files are kept
//   opt/good                         marker file
//   opt/fonts/PTS55F_W.ttf, PTS75F_W.ttf            links to Debian's PT Sans
//   usr/share/fonts/truetype/dejavu/DejaVuSans{,-Bold,-Oblique}.ttf  links to Debian's
//   dev/fb0                          regular file, 1,536,000 bytes (800 x 480 x 4), zeros
//   dev/mem                          regular file, 4096 bytes: the GPIO register block
//                                    (made with every button released)
//   dev/input/by-id/sim-event-kbd    FIFO (the keyboard)
//   dev/ttyAMA0, dev/ttyUSB0, dev/ttyUSB1  links to pseudo-terminals (made by SimUnit)
//   (dev/tty0 is deliberately absent)
//   etc/network/interfaces           a plain Debian file, made only when missing
//   tmp/                             the controller's /tmp (screen.png of fbgrab)
//   bin/ usr/bin/ opt/               stand-ins for the unit's outside programs (below)
//   sim/                             the simulator's own files: control files the stand-ins
//                                    read, their logs, wire.log, ampctl.stderr
//   sim/asound.conf                  the ALSA configuration of the sound interface
//                                    (sound_card.h; the controller's ALSA_CONFIG_PATH)
//   sim/lib/libusb-1.0.so.0          link to the receiver's libusb stand-in
//                                    (<dir of this program>/sim-usb/), when it is built;
//                                    the controller runs with sim/lib first on its
//                                    library path (see usb_receiver/receiver_model.h)
//
// Stand-ins (shell scripts; each appends "<name> <args>" to sim/commands.log and its
// arguments to sim/<name>.log; sim/<name>.fail present makes any of them exit 1):
//   bin/mount     succeeds; sim/mount.fail fails every call, sim/mount.fail-rw only the
//                 read-write remount, sim/mount.fail-ro only the read-only one
//   bin/my_temp   prints sim/cpu_temp (default 45.0) and "temp=<sim/gpu_temp>'C" (48.3)
//   bin/my_zolt   prints sim/my_zolt (default "eth0")
//   bin/lsusb     prints sim/lsusb (empty by default)
//   bin/ifconfig  prints sim/ifconfig (default: an eth0 block in the old net-tools form)
//   bin/sudo      logs; runs the command when it is one of these stand-ins, else succeeds
//   bin/reboot, bin/ifdown, bin/ifup   log and succeed
//   bin/stty, usr/bin/tput   log and succeed, touching no terminal
//   bin/echo      the real /bin/echo (the controller names /bin/echo, mapped to the root)
//   usr/bin/fbgrab [-d dev] FILE   runs "<build>/screenshot <root>/dev/fb0 FILE"
//   opt/sshshell, opt/IxoMav/getpack.sh   log and succeed
#include <string>

namespace sim {

constexpr long kFramebufferBytes = 800L * 480L * 4L; // 1,536,000
constexpr long kGpioBlockBytes = 4096;

// The absolute form of dir (created when missing).
std::string absoluteRoot(const std::string& dir);
// Builds the root; throws std::runtime_error on a failure. Returns the absolute root.
std::string buildRoot(const std::string& dir);
// The screenshot program next to this process's binary ("" when not found).
std::string screenshotToolPath();
// Writes the file (atomically) unless something is at the path already; throws
// std::runtime_error on a failure.
void writeFileIfMissing(const std::string& path, const std::string& content);
// root + "/" + relative.
std::string rootPath(const std::string& root, const std::string& relative);

} // namespace sim
