// Fuzzes the filter table reader, the filter choice and the written form of the table.
#include "amplifier/filters.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::writeSettings("opt/set/filter.txt", data, size);
    auto works = fuzz::freshWorks();
    LoadTabFiltri(works.get());
    for (uint32_t f : {0u, 1900000u, 7100000u, 54000000u, 0xFFFFFFFFu}) {
        works->frequency = f;
        SetFilterFromfreq(works.get());
    }
    filterFileText(works.get());
    return 0;
}
