#pragma once
// Starting and stopping the worker threads by their setup switches.
#include <pthread.h>

struct Works;

// A thread identity; valid only while it names a thread this program started.
struct ThreadId {
    pthread_t id{};
    bool valid = false;
};

extern ThreadId thrGPIO, thrLin, thInit, thDebug, thAggFw, thrKey, thrWsock, thrSer, thrLeggi, thrScrivi, thrCat,
    thrFFT, thrCatSer, thrTime;
extern int waitIXO;
extern volatile int startInitThread;

// Starts entry(works) as a joinable thread into slot; refuses while the slot's previous
// thread is still running. Returns 0 on success.
int startThread(ThreadId& slot, void* (*entry)(void*), Works* works);
// Joins the slot's thread if it was started; returns true when a thread was joined.
bool joinThread(ThreadId& slot);

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

void* LoadThread(void* arg);
void* AggFWThread(void* arg);
void* LANInfoThread(void* arg);

// The loop of a thread whose work is not done here yet: it stays until running drops to 0
// or its switch (when given) leaves onValue.
void idleUntilStopped(Works* works, const char* threadSwitch, char onValue);
