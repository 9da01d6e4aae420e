#include "tuner/tune_memory.h"

#include "core/works.h"

void LoadTuneFromMEM(Works* works, int antenna)
{
    // No tunes are stored yet: the tuner word stays as it is.
    (void)works;
    (void)antenna;
}
