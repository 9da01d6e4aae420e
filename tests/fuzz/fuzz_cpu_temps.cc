// Fuzzes the reader of what "my_temp" prints: a reading is taken only from two lines, and
// the temperatures it gives are numbers (never infinite or not-a-number), so that the fan
// decision compares real values.
#include "amplifier/thermal.h"
#include "fuzz_support.h"

#include <cmath>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    float cpu1 = -1000.0f;
    float cpu2 = -1000.0f;
    const bool read = parseCpuTemps(output, cpu1, cpu2);
    if (read && output.find('\n') == std::string_view::npos)
        fuzz::fail("a reading from output without a line end");
    if (read && !(std::isfinite(cpu1) && std::isfinite(cpu2)))
        fuzz::fail("reading %f, %f is not a temperature", static_cast<double>(cpu1), static_cast<double>(cpu2));
    return 0;
}
