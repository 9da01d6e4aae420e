#include "transceiver/iq_stream.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"

void* IXORead(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::EnableFFT, '1');
    return nullptr;
}
