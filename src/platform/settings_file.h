#pragma once
// Writes of the settings partition. /opt/set is mounted read-only on the unit: every write
// remounts it read-write, replaces the file atomically (temporary file in the same directory,
// fsync, rename) and remounts it read-only. Writers are serialised, so two threads saving the
// same file never interleave and a power cut leaves either the old or the new file.
#include <string>
#include <string_view>

enum SettingsWriteResult {
    SETTINGS_WRITTEN = 0,
    SETTINGS_REMOUNT_FAILED = -1,  // "can't mount rw" already logged; nothing written
    SETTINGS_OPEN_FAILED = -2,     // the file could not be written; the caller logs its message
};

// Remounts, writes `content` to absPath (a real-system path, mapped here), remounts read-only.
int writeSettingsFile(std::string_view absPath, std::string_view content);
// The same without the remount commands, for files outside /opt/set.
int replaceFileAtomically(std::string_view absPath, std::string_view content);
// The two remount commands with their log lines; remountRw returns 0 when the partition is writable.
int remountRw();
void remountRo();
// Removes the temporary files a save killed midway left in the settings directory (under
// the remount, one log line each). Returns the number removed, -1 when the partition could
// not be made writable.
int removeStaleTempFiles();
// Reads a whole file (real-system path, mapped here); false when it cannot be opened.
bool readWholeFile(std::string_view absPath, std::string& out);
