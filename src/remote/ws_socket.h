#pragma once
// Socket plumbing shared by the server and the client: a byte source that gives up when the
// program stops or a deadline passes, whole writes, and interruptible pauses.
#include "remote/ws_reader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

struct Works;

// A source reading fd. It returns -1 once running drops to 0 (errno ECANCELED) or, while
// *deadlineMs is non-zero, once the monotonic clock passes it (logged; errno ETIMEDOUT).
WsSource wsSocketSource(Works* works, int fd, const int64_t* deadlineMs);
// Writes all bytes (no SIGPIPE); the count written, or -1.
long wsWriteAll(int fd, const void* data, size_t length);
// Sleeps up to ms, in short steps, returning early when running drops to 0.
void wsPause(Works* works, int ms);
// A send timeout on fd, so a peer that stops reading cannot hold the senders for good.
void wsSetSendTimeout(int fd, int seconds);
