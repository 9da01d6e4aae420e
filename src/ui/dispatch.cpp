#include "ui/dispatch.h"

#include "core/works.h"
#include "platform/clock.h"

int DecodeTasto(Works* works, int /*key*/, int /*pressFlags*/)
{
    // Until the button bars are built, a press only renews the time of the last activity.
    works->lastActivity = monoMillis();
    return 0;
}
