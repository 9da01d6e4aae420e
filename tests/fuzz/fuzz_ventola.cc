// Fuzzes the fan table reader and the fan decision over a range of temperatures.
#include "amplifier/thermal.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::writeSettings("opt/set/ventola.txt", data, size);
    auto works = fuzz::freshWorks();
    ReadVentolaFile(works.get());
    works->startupDone = 1;
    for (float t : {-40.0f, 0.0f, 45.0f, 60.5f, 200.0f}) {
        works->temp1 = t;
        works->fanCmdPending = 0;
        searchPercentVentola(works.get());
        SearchTemperatureFromVentola(works.get(), works->fanPercent);
    }
    return 0;
}
