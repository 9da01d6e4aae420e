// my_temp: the unit's temperature reading for the controller. First line: the processor
// temperature in degrees Celsius from the board's thermal zone. Second line: the graphics
// processor's reading as the firmware tool prints it ("temp=48.3'C"), or, where that tool
// is missing, the thermal zone in the same form.
#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Millidegrees from the thermal zone; false when it cannot be read.
bool thermalZone(double& celsius)
{
    FILE* f = fopen(mapPath("/sys/class/thermal/thermal_zone0/temp").c_str(), "r");
    if (!f)
        return false;
    long milli = 0;
    const bool ok = fscanf(f, "%ld", &milli) == 1;
    fclose(f);
    celsius = static_cast<double>(milli) / 1000.0;
    return ok;
}

// The firmware tool's line, checked to have the "temp=" form with a number after it.
bool firmwareReading(char* line, size_t size)
{
    FILE* p = popen("vcgencmd measure_temp 2>/dev/null", "r");
    if (!p)
        return false;
    const bool got = fgets(line, static_cast<int>(size), p) != nullptr;
    pclose(p);
    if (!got || strncmp(line, "temp=", 5) != 0 || line[5] < '0' || line[5] > '9')
        return false;
    line[strcspn(line, "\r\n")] = '\0';
    return true;
}

} // namespace

int main()
{
    double cpu = 0;
    const bool haveZone = thermalZone(cpu);
    if (!haveZone)
        fprintf(stderr, "my_temp: no thermal zone\n");
    printf("%.1f\n", cpu);
    char line[64];
    if (firmwareReading(line, sizeof line))
        printf("%s\n", line);
    else
        printf("temp=%04.1f'C\n", cpu);
    return haveZone ? 0 : 1;
}
