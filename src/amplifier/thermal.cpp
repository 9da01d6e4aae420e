#include "amplifier/thermal.h"

#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

float CalvTensVadcAmp(Works* works, int raw)
{
    const float k = works->ampModel == '1' ? 348.0f : 118.0f;
    return static_cast<float>(raw & 0xFF) * 3.3f * k / 255.0f / 18.0f;
}

float ConversionCelsius_to_Fahrenheit(float celsius)
{
    return celsius * 9.0f / 5.0f + 32.0f;
}

void AttivaDisattivaProtezione(Works* works, int on)
{
    if (on == 1) {
        IncPNTIn_CMDLinear(18, works);
        IncPNTIn_CMDLinear(16, works);
        logErr("PROTEZIONE ON -------------\n");
    } else {
        IncPNTIn_CMDLinear(17, works);
        logErr("PROTEZIONE OFF -------------\n");
    }
}

void GestTemperatureFunction(Works* works, int a, int b, int w, float t, float limit)
{
    if (t > limit) {
        if (ExistError(works, a))
            return;
        DeleteErrore(works, w);
        DeleteErrore(works, b);
        AddErrore(works, a);
        AttivaDisattivaProtezione(works, 1);
        if (works->enableLogTemp == 1) {
            LogTempFunction(works, 1);
            works->logTempRemoved = 0;
        }
        if (!(works->cpFlag & 1))
            IncPNTIn_CMDLinear(19, works);
        logErr("!!!!  TEMP ALLARM: %02.02f (%i)\n", t, a);
    } else if (t < limit - static_cast<float>(works->isteresi1)) {
        if (ExistError(works, a)) {
            DeleteErrore(works, a);
            IncPNTIn_CMDLinear(20, works);
            AddErrore(works, b);
            logErr("!!!! END TEMPERATURE ERROR (%i)\n", a);
        }
        if (ExistError(works, w)) {
            DeleteErrore(works, w);
            logErr("!!!! WARNING: Warning Temperatura Rientrato!! (%i)\n", a);
        }
    } else if (!ExistError(works, a) && !ExistError(works, w)) {
        AddErrore(works, w);
        logErr("!!!! WARNING: Quasi in Temperatura!! (%i)\n", a);
    }
}

namespace {

// A temperature at the start of the text: false when there is no number there or it is
// not finite ("nan", "inf", 1e99), which would make every comparison with it meaningless.
bool temperatureOf(const std::string& text, float& out)
{
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

} // namespace

bool parseCpuTemps(std::string_view output, float& cpu1, float& cpu2)
{
    // Lines as a 32-byte line buffer would hold them; the rest of a longer line is dropped.
    constexpr size_t LINE_MAX_CHARS = 31;
    const size_t firstEnd = output.find('\n');
    if (firstEnd == std::string_view::npos)
        return false;
    const std::string first(output.substr(0, std::min(firstEnd, LINE_MAX_CHARS)));
    std::string_view rest = output.substr(firstEnd + 1);
    std::string_view second = rest.substr(0, std::min(rest.find('\n'), LINE_MAX_CHARS));
    if (second.size() < 9)
        return false;
    float t1 = 0, t2 = 0;
    if (!temperatureOf(first, t1) || !temperatureOf(std::string(second.substr(5, 4)), t2))
        return false;
    cpu1 = t1;
    cpu2 = t2;
    return true;
}

namespace {
// my_temp's failed runs in a row (the process has one helper, read by one thread).
std::atomic<int> failedRuns{0};
}

bool ReadCPUTemp(Works* works)
{
    // A missing, failing or hung my_temp keeps the last readings rather than stopping the
    // controller of a running amplifier; a run of failures is logged once, when it starts,
    // and its end once, when a reading comes back.
    // "exec": the shell becomes my_temp, one process a reading instead of two.
    std::string output;
    const ShellOutcome outcome = readShellWithin("exec my_temp", CPU_TEMP_TIMEOUT_MS, output);
    float cpu1 = 0, cpu2 = 0;
    if (outcome != ShellOutcome::Done || !parseCpuTemps(output, cpu1, cpu2)) {
        if (failedRuns++ == 0)
            logErr("ReadCPUTemp: no reading from my_temp%s\n",
                   outcome == ShellOutcome::TimedOut ? " (no answer within the time-out)" : "");
        return false;
    }
    if (const int failed = failedRuns.exchange(0); failed > 0)
        logErr("ReadCPUTemp: my_temp reads again after %d failed runs\n", failed);
    works->cpuTemp1 = cpu1;
    works->cpuTemp2 = cpu2;
    return true;
}
