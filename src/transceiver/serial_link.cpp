#include "transceiver/serial_link.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"

#include <mutex>

void* Serial(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::enaser, '1');
    return nullptr;
}

void getParameters(SerParam* out, Works* works)
{
    std::lock_guard<std::mutex> lock(*works->serMut);
    *out = *works->serPar;
}
