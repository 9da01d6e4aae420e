#include "remote/ws_server.h"

#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"

void* Wsocket(void* arg)
{
    Works* works = static_cast<Works*>(arg);
    idleUntilStopped(works, &Orvosetup::WebSocket, '1');
    return nullptr;
}
