#include "ui/screen_loop.h"

#include "core/threads.h"
#include "core/works.h"

void* timer(void* arg)
{
    idleUntilStopped(static_cast<Works*>(arg), nullptr, 0);
    return nullptr;
}
