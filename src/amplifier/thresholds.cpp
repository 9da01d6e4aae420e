#include "amplifier/thresholds.h"

#include "core/works.h"

void SearchCambioSoglie_TS(Works* works)
{
    // No band table is loaded: no row applies and the board keeps its thresholds.
    works->thresholdRow = -1;
}
