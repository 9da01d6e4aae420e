#pragma once
// What the capture and playback threads share: opening a sound device with retries, the
// logged set-up steps, and pauses that end early when the thread is told to stop.
#include "core/setup.h"

#include <alsa/asoundlib.h>
#include <cstdint>

struct Works;

namespace audio {

constexpr int OPEN_ATTEMPTS = 100;
constexpr int OPEN_RETRY_MS = 100;

// True while the program runs and the thread's switch is '1'.
bool wanted(Works* works, char Orvosetup::* threadSwitch);
// Sleeps ms milliseconds in short steps; false as soon as the thread is no longer wanted.
bool pauseWhileWanted(Works* works, char Orvosetup::* threadSwitch, int64_t ms);

// Opens the device by name, up to OPEN_ATTEMPTS times OPEN_RETRY_MS apart (a debug line per
// failed attempt); gives up early when the thread is no longer wanted. Returns 0 or the
// last ALSA error; attempts tells how many were made.
int openDevice(Works* works, char Orvosetup::* threadSwitch, snd_pcm_t** pcm, const char* name,
               snd_pcm_stream_t stream, int* attempts);

// One set-up step: on success logs okLine (LOG_INFO) and returns true; on failure logs
// failFormat with the ALSA error text at LOG_ERR, prints it to stderr and returns false.
// Formats with a "%d" before the "%s" get value.
bool step(int rc, const char* okLine, const char* failFormat);
bool stepWithValue(int rc, const char* okLine, const char* failFormat, int value);

// The sample format code of works (2: 16-bit signed little-endian) as ALSA's.
snd_pcm_format_t sampleFormat(const Works* works);

} // namespace audio
