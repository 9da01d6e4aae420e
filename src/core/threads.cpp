#include "core/threads.h"

#include "core/setup.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <cerrno>

ThreadId thrGPIO, thrLin, thInit, thDebug, thAggFw, thrKey, thrWsock, thrSer, thrLeggi, thrScrivi, thrCat, thrFFT,
    thrCatSer, thrTime, thrHamlib;
int waitIXO = 0;

namespace {

// Joins the slot's thread once it has ended, waiting at most waitMs; true when joined.
bool joinWhenEnded(ThreadId& slot, int64_t waitMs)
{
    const int64_t deadline = monoMillis() + waitMs;
    while (pthread_tryjoin_np(slot.id, nullptr) != 0) {
        if (monoMillis() >= deadline)
            return false;
        sleepMs(10);
    }
    slot.valid = false;
    return true;
}

} // namespace

int startThread(ThreadId& slot, ThreadEntry entry, Works* works)
{
    // A thread restarted by its switch: its previous run sees the switch drop at its next
    // poll, so give it the time to end before the slot is reused.
    if (slot.valid && !joinWhenEnded(slot, THREAD_RESTART_WAIT_MS)) {
        logSys(LOG_ERR, "thread still running after %d ms, not started again", THREAD_RESTART_WAIT_MS);
        logErr("thread still running after %d ms, not started again\n", THREAD_RESTART_WAIT_MS);
        return -1;
    }
    if (pthread_create(&slot.id, nullptr, entry, works) != 0) {
        logSys(LOG_ERR, "can't start thread error %d", errno);
        return -1;
    }
    slot.valid = true;
    return 0;
}

bool joinThread(ThreadId& slot)
{
    if (!slot.valid)
        return false;
    pthread_join(slot.id, nullptr);
    slot.valid = false;
    return true;
}

void idleUntilStopped(Works* works, char Orvosetup::* threadSwitch, char onValue)
{
    while (works->running && (!threadSwitch || setupSwitch(works->setup, threadSwitch) == onValue))
        sleepMs(100);
}
