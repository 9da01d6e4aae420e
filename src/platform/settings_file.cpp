#include "platform/settings_file.h"

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
constexpr const char* SETTINGS_DIR = "/opt/set/";
constexpr std::string_view TEMP_SUFFIX = ".tmp";

std::recursive_mutex settingsWriteMutex;

std::string tempPathOf(const std::string& target)
{
    return target + std::string(TEMP_SUFFIX);
}

std::vector<std::string> tempFileNames(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = readdir(d)) {
        const std::string_view name = e->d_name;
        if (name.size() > TEMP_SUFFIX.size() && name.substr(name.size() - TEMP_SUFFIX.size()) == TEMP_SUFFIX)
            names.emplace_back(name);
    }
    closedir(d);
    return names;
}

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
        // A write that cannot happen: the system log and standard error both say so.
        int err = errno;
        logSys(LOG_ERR, "can't mount rw /opt/set/ error %d", err);
        logErr("can't mount rw /opt/set/ error %d\n", err);
        errno = err;
        return -1;
    }
    return 0;
}

void remountRo()
{
    if (runShell("mount -v -n -o remount -r /opt/set") != 0) {
        int err = errno;
        logSys(LOG_ERR, "can't mount ro /opt/set/ error %d", err);
        errno = err;
    }
}

int replaceFileAtomically(std::string_view absPath, std::string_view content)
{
    std::lock_guard<std::recursive_mutex> lock(settingsWriteMutex);
    const std::string target = mapPath(absPath);
    const std::string temp = tempPathOf(target);
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

int removeStaleTempFiles()
{
    std::lock_guard<std::recursive_mutex> lock(settingsWriteMutex);
    const std::vector<std::string> names = tempFileNames(mapPath(SETTINGS_DIR));
    if (names.empty())
        return 0;
    if (remountRw() != 0)
        return -1;
    int removed = 0;
    for (const std::string& name : names) {
        const std::string path = std::string(SETTINGS_DIR) + name;
        if (unlink(mapPath(path).c_str()) == 0) {
            ++removed;
            logErr("removed stale temporary file %s (a save was interrupted)\n", path.c_str());
            logSys(LOG_INFO, "removed stale temporary file %s", path.c_str());
        } else {
            logSys(LOG_ERR, "can't remove stale temporary file %s error %d", path.c_str(), errno);
        }
    }
    remountRo();
    return removed;
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
