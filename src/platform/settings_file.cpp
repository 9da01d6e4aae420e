#include "platform/settings_file.h"

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {
std::recursive_mutex settingsWriteMutex;

bool writeAll(int fd, std::string_view content)
{
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
}

int remountRw()
{
    if (runShell("mount -o remount defaults,rw /opt/set") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't mount rw /opt/set/ error %d", err);
        return -1;
    }
    return 0;
}

void remountRo()
{
    if (runShell("mount -v -n -o remount -r /opt/set") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't mount ro /opt/set/ error %d", err);
    }
}

int replaceFileAtomically(std::string_view absPath, std::string_view content)
{
    std::lock_guard<std::recursive_mutex> lock(settingsWriteMutex);
    const std::string target = mapPath(absPath);
    const std::string temp = target + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return SETTINGS_OPEN_FAILED;
    bool ok = writeAll(fd, content) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return SETTINGS_OPEN_FAILED;
    }
    // Make the rename itself durable.
    std::string dir = target.substr(0, target.find_last_of('/') + 1);
    int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return SETTINGS_WRITTEN;
}

int writeSettingsFile(std::string_view absPath, std::string_view content)
{
    std::lock_guard<std::recursive_mutex> lock(settingsWriteMutex);
    if (remountRw() != 0)
        return SETTINGS_REMOUNT_FAILED;
    int result = replaceFileAtomically(absPath, content);
    remountRo();
    return result;
}

bool readWholeFile(std::string_view absPath, std::string& out)
{
    FILE* f = fopen(mapPath(absPath).c_str(), "rb");
    if (!f)
        return false;
    out.clear();
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        out.append(chunk, n);
    fclose(f);
    return true;
}
