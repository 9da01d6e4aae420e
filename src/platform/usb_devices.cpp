#include "platform/usb_devices.h"

#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// The hexadecimal identifier in a sysfs attribute file; -1 when it has none.
long readId(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[16] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return -1;
    char* end = nullptr;
    const long id = std::strtol(text, &end, 16);
    return end == text ? -1 : id;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

} // namespace

int countUsbDevices(uint16_t vendor, uint16_t product)
{
    const std::string base = mapPath("/sys/bus/usb/devices");
    std::unique_ptr<DIR, DirCloser> dir(opendir(base.c_str()));
    if (!dir)
        return 0;
    int count = 0;
    while (const dirent* e = readdir(dir.get())) {
        const std::string name = e->d_name;
        // Interfaces ("1-1.4:1.0") and the dot entries carry no identifiers of their own.
        if (name.empty() || name[0] == '.' || name.find(':') != std::string::npos)
            continue;
        const std::string device = base + "/" + name + "/";
        if (readId(device + "idVendor") == vendor && readId(device + "idProduct") == product)
            ++count;
    }
    return count;
}
