// Fuzzes the reply decoder: the input is split at each ";" into replies handed over one
// after the other, each in a buffer of exactly its length, as the link hands them over.
#include "amplifier/replies.h"
#include "fuzz_support.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto works = fuzz::freshWorks();
    works->startupDone = 1;
    works->enablePwrPeak = 1;
    if (size > 0 && (data[0] & 1)) {
        // Some runs with a band table, so that the per-band factors are used too.
        works->configRows.resize(2);
        works->configRows[0].freqStart = 0;
        works->configRows[0].kFwd = 1e-4f;
        works->configRows[1].freqStart = 30000000;
        works->ventolaRows = {{40, 30}, {50, 60}};
    }
    size_t start = 0;
    for (size_t i = 0; i <= size; i++) {
        if (i < size && data[i] != ';')
            continue;
        const size_t end = i < size ? i + 1 : size;
        if (end > start) {
            std::vector<char> reply(data + start, data + end);
            DecodeCatCmd(works.get(), reply.data(), static_cast<int>(reply.size()) + 2);
        }
        start = end;
    }
    return 0;
}
