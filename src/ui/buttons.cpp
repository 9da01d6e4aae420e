#include "ui/buttons.h"

#include "core/works.h"
#include "platform/clock.h"

void* GPIO(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    // Takes each code posted to the front-panel mailbox so writers never wait on it.
    while (works->running) {
        uint8_t code = works->tinyCmd.exchange(0);
        if (code)
            works->tinyCmdActive = code;
        sleepMs(10);
    }
    return nullptr;
}
