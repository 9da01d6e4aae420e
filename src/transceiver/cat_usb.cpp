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

// The USB look-up of the transceiver and the probe of its CAT port are not built yet: until
// they are, no transceiver is reported, so the settings page never switches to Remote on a
// check that did not run.
int Find_Remote_Settings(Works*)
{
    return 1;
}
