#include "ui/keyboard.h"

#include "core/threads.h"
#include "core/works.h"

void* keyb(void* arg)
{
    idleUntilStopped(static_cast<Works*>(arg), nullptr, 0);
    return nullptr;
}
