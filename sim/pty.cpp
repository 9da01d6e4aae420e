#include "pty.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

std::runtime_error sysError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

Pty::Pty()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        throw sysError("posix_openpt");
    char name[PATH_MAX];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        const auto err = sysError("pseudo-terminal set-up");
        ::close(master_);
        throw err;
    }
    slaveName_ = name;
    // Our own descriptor of the slave: the line stays up while the controller closes and
    // reopens it, and the settings below are the line's until someone changes them.
    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveHold_ < 0) {
        const auto err = sysError(std::string("open ") + name);
        ::close(master_);
        throw err;
    }
    termios tio{};
    if (tcgetattr(slaveHold_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(slaveHold_, TCSANOW, &tio);
    }
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

Pty::~Pty()
{
    unlink();
    if (slaveHold_ >= 0)
        ::close(slaveHold_);
    if (master_ >= 0)
        ::close(master_);
}

void Pty::link(const std::string& linkPath)
{
    // A new link under a temporary name renamed over the old one: the path never
    // disappears, even for a controller reopening it at that moment.
    const std::string tmp = linkPath + ".new." + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (::symlink(slaveName_.c_str(), tmp.c_str()) != 0)
        throw sysError("symlink " + tmp);
    if (::rename(tmp.c_str(), linkPath.c_str()) != 0) {
        const auto err = sysError("rename " + tmp);
        ::unlink(tmp.c_str());
        throw err;
    }
    linkPath_ = linkPath;
}

void Pty::unlink()
{
    if (linkPath_.empty())
        return;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == slaveName_)
        ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

} // namespace sim
