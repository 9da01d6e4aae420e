#include "amplifier/measurements.h"

#include "amplifier/thresholds.h"
#include "core/works.h"

#include <algorithm>
#include <cmath>

const ThermistorPoint K_T_R[K_T_R_SIZE] = {
    {-40, 347.808f}, {-35, 248.591f}, {-30, 179.973f}, {-25, 131.832f}, {-20, 97.679f}, {-15, 73.119f},
    {-10, 55.301f},  {-5, 42.257f},   {0, 32.582f},    {5, 25.324f},    {10, 19.847f},  {15, 15.679f},
    {20, 12.478f},   {25, 10.0f},     {30, 8.068f},    {35, 6.552f},    {40, 5.353f},   {45, 4.399f},
    {50, 3.635f},    {55, 3.02f},     {60, 2.521f},    {65, 2.115f},    {70, 1.783f},   {75, 1.51f},
    {80, 1.284f},    {85, 1.096f},    {90, 0.939f},    {95, 0.808f},    {100, 0.698f},  {105, 0.605f},
    {110, 0.527f},   {115, 0.46f},    {120, 0.403f},   {125, 0.354f},
};

namespace {
constexpr float TEMP_MIN = -10.0f;
constexpr float TEMP_MAX = 80.0f;
constexpr int ADC_FULL = 4095;
} // namespace

int charToInt(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

float CalcolaTemp(int raw)
{
    // Full scale is an open (or very cold) sensor: the table's cold end. A reading past full
    // scale gives a negative resistance, below the table's last entry: the hot end, as for a
    // reading of 0, so a faulty converter trips the protection instead of hiding heat.
    if (raw == ADC_FULL)
        return TEMP_MIN;
    if (raw > ADC_FULL)
        return TEMP_MAX;
    if (raw < 0)
        raw = 0;
    const float r = static_cast<float>(raw) * 10.0f / static_cast<float>(ADC_FULL - raw);
    float t = TEMP_MAX;  // at or below the table's last resistance: beyond its hot end
    for (int i = 0; i < K_T_R_SIZE; i++) {
        if (K_T_R[i].kiloOhm < r) {
            if (i == 0) {
                t = K_T_R[0].celsius;
            } else {
                const ThermistorPoint& p = K_T_R[i - 1];
                const ThermistorPoint& q = K_T_R[i];
                t = p.celsius + (q.celsius - p.celsius) / (q.kiloOhm - p.kiloOhm) * (r - p.kiloOhm);
            }
            break;
        }
    }
    return std::clamp(t, TEMP_MIN, TEMP_MAX);
}

float defaultK(int kind)
{
    switch (kind) {
    case K_FWD:
        return K_DEFAULT_FWD;
    case K_REFL:
        return K_DEFAULT_REFL;
    case K_IN:
        return K_DEFAULT_IN;
    case K_DIR:
        return K_DEFAULT_DIR;
    default:
        return 1.0f;
    }
}

float SearchK(Works* works, int kind)
{
    // A frequency that no band row covers (no table, 0 before a transceiver reports one,
    // or beyond the last row) is measured with the default factors: a factor of 1 would
    // read raw units squared as watts.
    const int row = bandRowFor(works, works->frequency);
    if (row < 0)
        return defaultK(kind);
    const ConfigRow& r = works->configRows[static_cast<size_t>(row)];
    switch (kind) {
    case K_FWD:
        return r.kFwd;
    case K_REFL:
        return r.kRefl;
    case K_IN:
        return r.kIn;
    case K_DIR:
        return r.kDir;
    default:
        return 1.0f;
    }
}

float swrFromPowers(float pwrFwd, float pwrRefl)
{
    float swr = 0.0f;
    if (pwrFwd > 0.3f) {
        if (pwrFwd < pwrRefl) {
            swr = 100.0f;
        } else {
            const float r = std::sqrt(pwrRefl / pwrFwd);
            swr = r == 1.0f ? 100.0f : (1.0f + r) / (1.0f - r);
        }
    } else if (pwrRefl > 0.5f) {
        swr = 100.0f;
    }
    return std::min(swr, 100.0f);
}

float currentAmperes(int rawCurrent)
{
    return static_cast<float>(rawCurrent) * 14.05f / 4096.0f;
}
