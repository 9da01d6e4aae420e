#pragma once
// The thread slots of the program and the start functions by setup switch. The slots and
// the generic start and join live here; the start functions, which know every thread entry,
// are defined by the composition root (src/app/) and called by name from any subsystem.
#include <atomic>
#include <pthread.h>

struct Orvosetup;
struct Works;

using ThreadEntry = void* (*)(void*);

// A thread identity; valid only while it names a thread this program started. A slot is
// started by whichever thread flips its switch and joined by main at the end: valid is
// stored after id (and read before it) with the atomic's default order, so the thread that
// sees it set sees the id.
struct ThreadId {
    pthread_t id{};
    std::atomic<bool> valid{false};
};

extern ThreadId thrGPIO, thrLin, thInit, thDebug, thAggFw, thrKey, thrWsock, thrSer, thrLeggi, thrScrivi, thrCat,
    thrFFT, thrCatSer, thrTime, thrHamlib;
extern int waitIXO;

// How long a restart waits for the slot's previous thread to end.
constexpr int THREAD_RESTART_WAIT_MS = 2000;

// Starts entry(works) as a joinable thread into slot. A slot whose previous thread has not
// ended is waited for, at most THREAD_RESTART_WAIT_MS; if it still runs, nothing is started.
// Returns 0 on success, -1 when no thread was started.
int startThread(ThreadId& slot, ThreadEntry entry, Works* works);
// Joins the slot's thread if it was started; returns true when a thread was joined.
bool joinThread(ThreadId& slot);

// Start functions by setup switch (defined in app/thread_start.cpp). Each starts its thread
// only when its switch is on; a start that fails leaves the switch and the error list so
// that the usual retry path can start it again.
void StartThreadLinear(Works* works);
void StartThreadSoket(Works* works);
void StartThreadIXO(Works* works);
void StartThreadCATserial(Works* works);
void StartThreadAudioRead(Works* works);
void StartThreadAudioWrite(Works* works);
void StartThreadCAT(Works* works);
void StartIxoReadFFT(Works* works);
void StartThreadCommRemote(Works* works);
void ExitThreadRemote(Works* works);
// The use mode of the settings page: switching to Remote first checks that the
// transceiver's links, its sound interface and its serial link are in place (what is
// missing goes to the error list); switching back to Local needs nothing. Confirming
// starts the remote threads (and the WebSocket server) for Remote, or stops them for Local.
void SwitchRemoteUse(Works* works);
void ConfirmRemoteUse(Works* works);
// The Hamlib network amplifier server, when its settings file names a port.
void StartThreadHamlib(Works* works);

// The loop of a thread whose work is not done here yet: it stays until running drops to 0
// or its setup switch (when given) leaves onValue.
void idleUntilStopped(Works* works, char Orvosetup::* threadSwitch, char onValue);
