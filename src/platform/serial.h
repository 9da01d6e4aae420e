#pragma once
// Serial ports through plain termios, on whatever path the settings name (mapped to the root).
#include <cstddef>
#include <string_view>
#include <termios.h>

struct SerialSettings {
    tcflag_t iflag;
    tcflag_t oflag;
    tcflag_t cflag;
    tcflag_t lflag;
    cc_t vmin;
    cc_t vtime;
    speed_t speed;
};

enum SerialOpenResult { SERIAL_OPEN_FAILED = -1, SERIAL_SETUP_FAILED = -2 };

// Opens the port read-write and applies the settings at once (input queue flushed).
// Returns the descriptor, or SERIAL_OPEN_FAILED / SERIAL_SETUP_FAILED (nothing left open).
int openSerialPort(std::string_view absPath, const SerialSettings& settings);
// Bytes waiting to be read (FIONREAD); -1 on error.
int serialBytesWaiting(int fd);

// What one wait for bytes found. A port whose device is gone (a USB adapter pulled, the
// other side of the line closed) reports readable and then gives 0 bytes or an error: that
// is HungUp, for good, and never a time-out to poll again.
enum class SerialStatus { Data, Timeout, HungUp };
struct SerialRead {
    SerialStatus status;
    size_t count;  // bytes read (Data only)
};
// Waits up to timeoutMs for bytes and reads up to `size` of those waiting.
SerialRead serialRead(int fd, void* buffer, size_t size, int timeoutMs);
// Writes the whole length, continuing after short writes and retrying a line that is
// momentarily full; gives up after `attempts` writes in a row that make no progress or on an
// error. Returns the bytes written (less than length when it gave up).
size_t writeSerialAll(int fd, const void* data, size_t length, int attempts = 100);
