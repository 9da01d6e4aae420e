#include "transceiver/cat_usb.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"

void* Cat(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::EnableCAT, '1');
    return nullptr;
}
