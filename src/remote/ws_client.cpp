#include "remote/ws_client.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"

void* Wclient(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::WebSocket, '2');
    return nullptr;
}
