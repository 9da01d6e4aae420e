#pragma once
// Messages of the display code go to the system log through logSys (platform seam); a
// test may also receive each formatted line, to check the messages the Parts prescribe.
#include "platform/log.h"

using DisplayLogSink = void (*)(int priority, const char* line);

// Installs (or with nullptr removes) the extra receiver of display messages.
void setDisplayLogSink(DisplayLogSink sink);
void displayLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
