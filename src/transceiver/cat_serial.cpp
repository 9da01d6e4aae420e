#include "transceiver/cat_serial.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"

void* CatSerial(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::enaCatSer, '1');
    return nullptr;
}
