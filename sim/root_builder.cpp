#include "root_builder.h"

#include "front_panel.h"
#include "sound_card.h"
#include "platform/gpio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace fs = std::filesystem;

namespace {

std::runtime_error sysError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void makeDirs(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path))
        throw std::runtime_error("cannot create directory " + path + ": " + ec.message());
}

// A regular file of exactly `size` bytes; one that exists with that size keeps its
// contents (the last screen stays visible), anything else is made anew, all zeros.
// Returns true when it was made anew.
bool sizedFile(const std::string& path, long size)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode) && st.st_size == size)
            return false;
        if (!S_ISREG(st.st_mode) && ::unlink(path.c_str()) != 0)
            throw sysError("unlink " + path);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw sysError("create " + path);
    const bool ok = ftruncate(fd, 0) == 0 && ftruncate(fd, size) == 0;
    ::close(fd);
    if (!ok)
        throw sysError("size " + path);
    return true;
}

void writeFile(const std::string& path, const std::string& content, mode_t mode)
{
    const std::string tmp = path + ".new." + std::to_string(getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        throw sysError("create " + tmp);
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            throw sysError("write " + tmp);
        }
        done += static_cast<size_t>(n);
    }
    fchmod(fd, mode);
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw sysError("rename " + tmp);
    }
}

// A symbolic link to `target`, replaced when it points elsewhere.
void symLink(const std::string& target, const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n >= 0 && std::string(buf, static_cast<size_t>(n)) == target)
        return;
    const std::string tmp = path + ".new." + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0)
        throw sysError("symlink " + tmp);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw sysError("rename " + tmp);
    }
}

void fifo(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISFIFO(st.st_mode))
            return;
        ::unlink(path.c_str());
    }
    if (mkfifo(path.c_str(), 0666) != 0)
        throw sysError("mkfifo " + path);
}

// Single-quoted for the shell.
std::string shellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// The head of every stand-in: where the root is, the call logged, the fail switch.
std::string standIn(const std::string& root, const std::string& name, const std::string& body)
{
    return "#!/bin/sh\n"
           "# Stand-in for '" + name + "' on the simulated unit, written by ampsim (sim/root_builder.cpp).\n"
           "ROOT=" + shellQuote(root) + "\n"
           "SIM=\"$ROOT/sim\"\n"
           "printf '%s\\n' \"" + name + " $*\" >>\"$SIM/commands.log\" 2>/dev/null\n"
           "printf '%s\\n' \"$*\" >>\"$SIM/" + name + ".log\" 2>/dev/null\n"
           "[ -e \"$SIM/" + name + ".fail\" ] && exit 1\n"
           + body;
}

const char* kMountBody =
    "# A read-write remount names rw among its options (\"-o remount defaults,rw DIR\"),\n"
    "# a read-only one passes -r or ro.\n"
    "rw=0; ro=0\n"
    "for a in \"$@\"; do\n"
    "  case \"$a\" in -r|--read-only) ro=1 ;; -w|--rw|--read-write) rw=1 ;; esac\n"
    "  case \",$a,\" in *,rw,*) rw=1 ;; *,ro,*) ro=1 ;; esac\n"
    "done\n"
    "[ $rw = 1 ] && [ -e \"$SIM/mount.fail-rw\" ] && exit 1\n"
    "[ $ro = 1 ] && [ -e \"$SIM/mount.fail-ro\" ] && exit 1\n"
    "exit 0\n";

const char* kMyTempBody =
    "cpu=45.0\n"
    "gpu=48.3\n"
    "[ -r \"$SIM/cpu_temp\" ] && cpu=$(head -n 1 \"$SIM/cpu_temp\")\n"
    "[ -r \"$SIM/gpu_temp\" ] && gpu=$(head -n 1 \"$SIM/gpu_temp\")\n"
    "echo \"$cpu\"\n"
    "echo \"temp=$gpu'C\"\n";

const char* kMyZoltBody =
    "if [ -r \"$SIM/my_zolt\" ]; then cat \"$SIM/my_zolt\"; else echo eth0; fi\n";

const char* kLsusbBody =
    "[ -r \"$SIM/lsusb\" ] && cat \"$SIM/lsusb\"\n"
    "exit 0\n";

const char* kIfconfigBody =
    "if [ -r \"$SIM/ifconfig\" ]; then cat \"$SIM/ifconfig\"; exit 0; fi\n"
    "cat <<'EOF'\n"
    "eth0      Link encap:Ethernet  HWaddr b8:27:eb:00:00:42\n"
    "          inet addr:192.168.1.42  Bcast:192.168.1.255  Mask:255.255.255.0\n"
    "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n"
    "\n"
    "lo        Link encap:Local Loopback\n"
    "          inet addr:127.0.0.1  Mask:255.0.0.0\n"
    "          UP LOOPBACK RUNNING  MTU:65536  Metric:1\n"
    "EOF\n";

const char* kSudoBody =
    "# The command runs when it is one of the unit's stand-ins; anything else just succeeds.\n"
    "cmd=\"$1\"\n"
    "case \"$cmd\" in\n"
    "  ''|*/*) exit 0 ;;\n"
    "esac\n"
    "if [ -x \"$ROOT/bin/$cmd\" ]; then shift; exec \"$ROOT/bin/$cmd\" \"$@\"; fi\n"
    "exit 0\n";

const char* kSucceedBody = "exit 0\n";

const char* kEchoBody = "exec /bin/echo \"$@\"\n";

std::string fbgrabBody(const std::string& tool)
{
    return "# fbgrab [-d device] FILE: a PNG of the framebuffer file through the screenshot tool.\n"
           "dev=\"$ROOT/dev/fb0\"\n"
           "if [ \"$1\" = \"-d\" ]; then dev=\"$2\"; shift 2; fi\n"
           "out=\"$1\"\n"
           "[ -n \"$out\" ] || { echo \"usage: fbgrab [-d device] file.png\" >&2; exit 1; }\n"
           "tool=\"${AMPSIM_SCREENSHOT:-" + tool + "}\"\n"
           "if [ ! -x \"$tool\" ]; then echo \"fbgrab (simulated): no screenshot tool at $tool\" >&2; exit 1; fi\n"
           "exec \"$tool\" \"$dev\" \"$out\"\n";
}

const char* kInterfaces =
    "# The simulated unit's network settings (made by ampsim when missing).\n"
    "auto lo\n"
    "iface lo inet loopback\n"
    "\n"
    "auto eth0\n"
    "iface eth0 inet static\n"
    "address 192.168.1.42\n"
    "netmask 255.255.255.0\n"
    "gateway 192.168.1.1\n"
    "nameserver 192.168.1.1\n";

} // namespace

void writeFileIfMissing(const std::string& path, const std::string& content)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0)
        return;
    writeFile(path, content, 0644);
}

std::string rootPath(const std::string& root, const std::string& relative)
{
    if (relative.empty())
        return root;
    if (relative.front() == '/')
        return root + relative;
    return root + "/" + relative;
}

std::string absoluteRoot(const std::string& dir)
{
    if (dir.empty())
        throw std::runtime_error("empty root directory");
    makeDirs(dir);
    char buf[PATH_MAX];
    if (!realpath(dir.c_str(), buf))
        throw sysError("realpath " + dir);
    std::string root = buf;
    if (root == "/")
        throw std::runtime_error("the root of a simulated unit cannot be /");
    return root;
}

namespace {

// The folder of this process's binary ("" when unknown).
std::string programDir()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    std::string exe(buf, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "" : exe.substr(0, slash);
}

} // namespace

std::string screenshotToolPath()
{
    const std::string dir = programDir();
    return dir.empty() ? "" : dir + "/screenshot";
}

std::string buildRoot(const std::string& dir)
{
    const std::string root = absoluteRoot(dir);
    auto p = [&](const std::string& rel) { return rootPath(root, rel); };

    for (const char* d : {"opt/set", "opt/fonts", "opt/IxoMav", "dev/input/by-id", "etc/network",
                          "usr/share/fonts/truetype/dejavu", "usr/bin", "bin", "tmp", "sim", "sim/lib"})
        makeDirs(p(d));
    chmod(p("tmp").c_str(), 01777);

    sizedFile(p("dev/fb0"), kFramebufferBytes);
    if (sizedFile(p("dev/mem"), kGpioBlockBytes)) {
        // A new register block reads every button released (the level register at 0x34).
        const uint32_t levels = releasedLevels();
        const int fd = ::open(p("dev/mem").c_str(), O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::pwrite(fd, &levels, sizeof levels, GPIO_LEV0) == sizeof levels;
        if (fd >= 0)
            ::close(fd);
        if (!ok)
            throw sysError("write " + p("dev/mem"));
    }
    fifo(p("dev/input/by-id/sim-event-kbd"));

    const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
    for (const char* f : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf"})
        symLink(dejavu + f, p("usr/share/fonts/truetype/dejavu/") + f);
    symLink("/usr/share/fonts/truetype/paratype/PTS55F.ttf", p("opt/fonts/PTS55F_W.ttf"));
    symLink("/usr/share/fonts/truetype/paratype/PTS75F.ttf", p("opt/fonts/PTS75F_W.ttf"));

    // The receiver's libusb stand-in, built next to this program, for the controller's
    // library path.
    const std::string usbLib = programDir() + "/sim-usb/libusb-1.0.so.0";
    if (!programDir().empty() && ::access(usbLib.c_str(), R_OK) == 0)
        symLink(usbLib, p("sim/lib/libusb-1.0.so.0"));
    // The sound interface's playback device, likewise: ALSA loads it by the path the root's
    // configuration names.
    const std::string soundLib = programDir() + "/sim-alsa/libasound_module_pcm_simcard.so";
    if (!programDir().empty() && ::access(soundLib.c_str(), R_OK) == 0)
        symLink(soundLib, playbackDevicePath(root));

    writeFileIfMissing(p("opt/good"), "");
    writeFileIfMissing(p("etc/network/interfaces"), kInterfaces);
    writeFile(alsaConfigPath(root), alsaConfigText(root), 0644);

    struct Script {
        const char* path;
        const char* name;
        std::string body;
    };
    const std::vector<Script> scripts = {
        {"bin/mount", "mount", kMountBody},
        {"bin/my_temp", "my_temp", kMyTempBody},
        {"bin/my_zolt", "my_zolt", kMyZoltBody},
        {"bin/lsusb", "lsusb", kLsusbBody},
        {"bin/ifconfig", "ifconfig", kIfconfigBody},
        {"bin/sudo", "sudo", kSudoBody},
        {"bin/reboot", "reboot", kSucceedBody},
        {"bin/ifdown", "ifdown", kSucceedBody},
        {"bin/ifup", "ifup", kSucceedBody},
        {"bin/stty", "stty", kSucceedBody},
        {"bin/echo", "echo", kEchoBody},
        {"usr/bin/tput", "tput", kSucceedBody},
        {"usr/bin/fbgrab", "fbgrab", fbgrabBody(screenshotToolPath())},
        {"opt/sshshell", "sshshell", kSucceedBody},
        {"opt/IxoMav/getpack.sh", "getpack", kSucceedBody},
    };
    for (const Script& s : scripts) {
        const std::string content = standIn(root, s.name, s.body);
        // Rewritten only when different, so a second build changes nothing.
        std::error_code ec;
        bool same = false;
        if (fs::is_regular_file(p(s.path), ec) && fs::file_size(p(s.path), ec) == content.size()) {
            FILE* f = std::fopen(p(s.path).c_str(), "re");
            if (f) {
                std::string old(content.size(), '\0');
                same = std::fread(old.data(), 1, old.size(), f) == old.size() && old == content;
                std::fclose(f);
            }
        }
        if (!same)
            writeFile(p(s.path), content, 0755);
        else
            chmod(p(s.path).c_str(), 0755);
    }
    return root;
}

} // namespace sim
