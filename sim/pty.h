#pragma once
// A pseudo-terminal the simulator serves: the master side for the model, the slave side
// in raw mode (no echo, no line editing, no character translation), and one descriptor of
// the slave kept open for the whole life of the object, so that the controller closing
// its own descriptor never hangs the line up and the slave's settings survive a reopen.
#include <string>

namespace sim {

class Pty {
public:
    Pty(); // throws std::runtime_error when no pseudo-terminal can be had
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }      // non-blocking, close-on-exec
    const std::string& slaveName() const { return slaveName_; } // "/dev/pts/N"

    // Points `linkPath` at the slave (replacing whatever is there, atomically).
    void link(const std::string& linkPath);
    // Removes the link when it still points at this pseudo-terminal.
    void unlink();

private:
    int master_ = -1;
    int slaveHold_ = -1;
    std::string slaveName_;
    std::string linkPath_;
};

} // namespace sim
