// Fuzzes the band table reader and the threshold choice made from what it read.
#include "amplifier/measurements.h"
#include "amplifier/thresholds.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::writeSettings("opt/set/config.txt", data, size);
    auto works = fuzz::freshWorks();
    ReadConfigFile(works.get());
    for (uint32_t f : {0u, 1850000u, 14070000u, 0xFFFFFFFFu}) {
        works->frequency = f;
        SearchCambioSoglie_TS(works.get());
        for (int kind = 0; kind < 5; kind++)
            SearchK(works.get(), kind);
    }
    return 0;
}
