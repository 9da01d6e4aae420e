#include "amplifier/thresholds.h"

#include "amplifier/link.h"
#include "amplifier/measurements.h"
#include "amplifier/table_file.h"
#include "core/works.h"
#include "platform/log.h"

#include <cmath>

namespace {

constexpr const char* CONFIG_PATH = "/opt/set/config.txt";
constexpr size_t CONFIG_LINE_MAX = 255;
constexpr int RAW_MAX = 4095;

// Watts per raw unit squared from one calibration pair. A pair without a raw reading gives
// no factor: the default of its kind stands in.
float factorFromPair(float power, float raw, int kind)
{
    if (raw == 0.0f) {
        logErr("config.txt: calibration pair (%.2f, %.2f) has no raw reading, default factor used\n", power, raw);
        return defaultK(kind);
    }
    return power / (raw * raw);
}

} // namespace

ConfigRow parseConfigLine(const std::string& line, float* inPower, float* inRaw)
{
    ConfigRow row;
    NumberCursor in(line);
    row.freqStart = in.nextUnsigned();
    row.freqEnd = in.nextUnsigned();
    float pairs[3][2];
    for (auto& pair : pairs) {
        pair[0] = in.nextFloat();
        pair[1] = in.nextFloat();
    }
    row.kFwd = factorFromPair(pairs[0][0], pairs[0][1], K_FWD);
    row.kRefl = factorFromPair(pairs[1][0], pairs[1][1], K_REFL);
    row.kIn = factorFromPair(pairs[2][0], pairs[2][1], K_IN);
    row.kDir = in.nextFloat();
    row.sogliaPwIn = in.nextFloat();
    row.sogliaCorrente = in.nextFloat();
    row.sogliaRefl = in.nextFloat();
    row.sogliaFwd = in.nextFloat();
    for (int k = 0; k < TUNE_PRESETS; k++) {
        row.presetL[k] = in.nextInt();
        row.presetC[k] = in.nextInt();
    }
    row.step = in.nextInt();
    if (inPower)
        *inPower = pairs[2][0];
    if (inRaw)
        *inRaw = pairs[2][1];
    return row;
}

void ReadConfigFile(Works* works)
{
    works->configRows.clear();
    works->configRowCount = 0;
    std::vector<std::string> lines;
    if (!readTableLines(CONFIG_PATH, CONFIG_LINE_MAX, lines)) {
        logErr("Config File not FOUND!!");
        logSys(LOG_ERR, "can't open /opt/set/config.txt");
        return;
    }
    int count = 0;
    for (const std::string& line : lines)
        if (!isCommentLine(line))
            count++;
    logErr("N row Config File %d \n", count);
    works->configRows.reserve(static_cast<size_t>(count));
    for (const std::string& line : lines) {
        if (isCommentLine(line))
            continue;
        float inPower = 0, inRaw = 0;
        const ConfigRow r = parseConfigLine(line, &inPower, &inRaw);
        works->configRows.push_back(r);
        logErr("->%u,%u,%02.07f,%02.07f,%02.07f,%02.07f (%02.02f,%02.02f) Soglie: PWIN %02.01f, Corrente: %02.01f, "
               "REFL: %02.01f, FWD: %02.01f\n",
               r.freqStart, r.freqEnd, r.kFwd, r.kRefl, r.kIn, r.kDir, inPower, inRaw, r.sogliaPwIn,
               r.sogliaCorrente, r.sogliaRefl, r.sogliaFwd);
        logErr("\ttunepar: %d %d, %d %d, %d %d, %d %d, %d %d, step:%d\n", r.presetL[0], r.presetC[0], r.presetL[1],
               r.presetC[1], r.presetL[2], r.presetC[2], r.presetL[3], r.presetC[3], r.presetL[4], r.presetC[4],
               r.step);
    }
    works->configRowCount = static_cast<int32_t>(works->configRows.size());
}

int bandRowFor(const Works* works, uint32_t frequency)
{
    const auto& rows = works->configRows;
    for (size_t i = 0; i + 1 < rows.size(); i++)
        if (rows[i].freqStart <= frequency && frequency < rows[i + 1].freqStart)
            return static_cast<int>(i);
    return -1;
}

int rawThreshold(double level)
{
    // NaN and infinite levels (a zero factor) mean no usable limit: the converter's top.
    if (!(level < RAW_MAX))
        return RAW_MAX;
    if (level < 0)
        return 0;
    return static_cast<int>(level);
}

void SearchCambioSoglie_TS(Works* works)
{
    if (!works->configRows.empty() && works->frequency != 0) {
        logErr("Soglia TS (freq %ld):\n", static_cast<long>(works->frequency));
        const int row = bandRowFor(works, works->frequency);
        if (row < 0)
            return;
        // The default thresholds sent for "no row" share the number 0 with the first row;
        // the flag keeps the first row's own thresholds from being taken as already sent.
        if (row == works->thresholdRow && !works->thresholdDefaults)
            return;
        const ConfigRow& r = works->configRows[static_cast<size_t>(row)];
        works->tsPar[0] = rawThreshold(std::sqrt(static_cast<double>(r.sogliaPwIn) / r.kIn));
        works->tsPar[1] = rawThreshold(std::sqrt(static_cast<double>(r.sogliaFwd) / r.kFwd));
        works->tsPar[2] = rawThreshold(std::sqrt(static_cast<double>(r.sogliaRefl) / r.kRefl));
        works->tsPar[3] = rawThreshold(static_cast<double>(r.sogliaCorrente) * 4096.0 / 14.05);
        works->thresholdRow = row;
        works->thresholdDefaults = 0;
        IncPNTIn_CMDLinear(22, works);
        return;
    }
    if (works->thresholdRow >= 0)
        return;
    works->tsPar[0] = TS_DEFAULT_IN;
    works->tsPar[1] = TS_DEFAULT_FWD;
    works->tsPar[2] = TS_DEFAULT_REFL;
    works->tsPar[3] = TS_DEFAULT_CURRENT;
    works->thresholdRow = 0;
    works->thresholdDefaults = 1;
    IncPNTIn_CMDLinear(22, works);
}
