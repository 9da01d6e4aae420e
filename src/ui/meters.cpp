#include "ui/meters.h"

#include "core/works.h"
#include "display/framebuffer.h"
#include "display/text.h"
#include "ui/spectrum_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The meters' own value of pi and of pi / 2, as the scales were drawn with them.
constexpr double METER_PI = 3.141692653;
constexpr double METER_HALF_PI = 1.5708463265;

// SWR scale of the meter: SWR value and meter position in steps.
struct SwrPoint {
    float swr;
    float steps;
};
constexpr SwrPoint CONV_SWR[12] = {
    {1.0f, 0},  {1.5f, 11}, {2.0f, 20}, {3.0f, 30}, {4.0f, 36},   {5.0f, 40},
    {6.0f, 43}, {7.0f, 45}, {8.0f, 47}, {9.0f, 48}, {10.0f, 50}, {100.0f, 60},
};

constexpr int METER_FONT = 8;

void peakUpdate(int& holdMs, float& held, float reading)
{
    if (reading > held) {
        held = reading;
        holdMs = TimerPeakSec;
    } else if (holdMs <= 0) {
        held = (static_cast<float>(fattoremedia) * held + reading) / static_cast<float>(fattoremedia + 1);
    }
}

void drawText(Works* works, int x, int y, const char* text)
{
    putString(METER_FONT, x, y, text, 0, 0, 0, works->fb, 0);
}

void drawPower(Works* works, int x, int y, float watts)
{
    char text[32];
    formatPower(text, sizeof text, watts, works->powerUnits != 0);
    drawText(works, x, y, text);
}

// The right meter of the view: its reading in steps, its scale, label and read-out.
void rightMeter(Works* works)
{
    float steps = 0;
    int scale = number_ofStep_meter_REFL;
    switch (works->screenPage) {
    case 2:
        steps = CalcolaSWR(std::clamp(works->swr.load(), 0.0f, 100.0f));
        scale = number_ofStep_meter_SWR;
        break;
    case 3:
        steps = std::min(works->pwrIn.load(), 60.0f);
        scale = number_ofStep_meter_PW;
        break;
    default:
        steps = std::min(works->pwrRefl.load(), 60.0f);
        break;
    }
    if (works->enablePwrPeak == 1) {
        if (works->angAuxPk == 0)
            works->pkAux = steps;
        else
            CalcolaPwrPeak2(works, steps);
        works->angAuxPk = needleAngle(works->pkAux, scale);
    }
    works->angAux = needleAngle(steps, scale);
    switch (works->screenPage) {
    case 2: {
        drawText(works, 570, 160, "SWR");
        char text[32];
        snprintf(text, sizeof text, "%02.01f", static_cast<double>(std::clamp(works->swr.load(), 0.0f, 100.0f)));
        drawText(works, 580, 180, text);
        break;
    }
    case 3:
        drawText(works, 560, 160, "PRWIN");
        drawPower(works, 570, 180, works->pwrIn);
        break;
    default:
        drawText(works, 535, 160, "REFLECTED");
        drawPower(works, 565, 180, works->pwrRefl);
        break;
    }
    drawNeedle(works->fb, METER_RIGHT_X, works->angAux, 255, 0, 0);
    if (works->enablePwrPeak == 1)
        drawNeedle(works->fb, METER_RIGHT_X, works->angAuxPk, 0, 0, 0);
}

} // namespace

float ConvertW_to_dBm(float watts)
{
    return 10.0f * std::log10(watts * 1000.0f);
}

float CalcolaSWR(float swr)
{
    if (swr < CONV_SWR[0].swr)
        return 0;
    for (size_t i = 1; i < std::size(CONV_SWR); ++i) {
        if (CONV_SWR[i].swr > swr) {
            const SwrPoint& a = CONV_SWR[i - 1];
            const SwrPoint& b = CONV_SWR[i];
            return a.steps + (b.steps - a.steps) * (swr - a.swr) / (b.swr - a.swr);
        }
    }
    return CONV_SWR[std::size(CONV_SWR) - 1].steps;
}

float needleAngle(float value, int steps)
{
    if (steps <= 0)
        steps = 60;
    return static_cast<float>((0.24 - static_cast<double>(value) * 0.48 / steps) * METER_PI);
}

NeedleTip needleTip(int centreX, float theta)
{
    const double t = theta;
    const double x = centreX - NEEDLE_RADIUS * std::sin(t) + NEEDLE_OFFSET * std::cos(t + METER_HALF_PI);
    const double y = METER_Y - NEEDLE_RADIUS * std::cos(t) + NEEDLE_OFFSET * std::sin(t + METER_HALF_PI);
    return {static_cast<int>(x), static_cast<int>(y)};
}

void drawNeedle(FrameBuffer* fb, int centreX, float theta, int red, int green, int blue)
{
    const NeedleTip tip = needleTip(centreX, theta);
    for (int dx = -1; dx <= 1; ++dx)
        DrawLine(centreX + dx, METER_Y, tip.x, tip.y, red, green, blue, fb, 0);
}

void formatPower(char* out, size_t size, float watts, bool dBm)
{
    if (!dBm) {
        snprintf(out, size, "%02.01fW", static_cast<double>(watts));
        return;
    }
    const float value = ConvertW_to_dBm(watts);
    // Below 1 mW (and without power at all, -inf) the value is shown as dashes.
    if (!(value >= 0))
        snprintf(out, size, "---dBm");
    else
        snprintf(out, size, "%02.01fdBm", static_cast<double>(value));
}

void CalcolaPwrPeak(Works* works, float reading)
{
    peakUpdate(works->pkFwdHoldMs, works->pkFwd, reading);
}

void CalcolaPwrPeak2(Works* works, float reading)
{
    peakUpdate(works->pkAuxHoldMs, works->pkAux, reading);
}

void decayPeak(int& holdMs, int& frameCount, float& held, int elapsedMs)
{
    if (holdMs <= 0)
        return;
    holdMs -= elapsedMs;
    if (frameCount < PeakDecrementTime) {
        ++frameCount;
        return;
    }
    held = std::max(0.0f, held - static_cast<float>(PeakDecrement));
    frameCount = 0;
}

void DrawMeters(Works* works)
{
    const float forward = std::min(works->pwrFwd.load(), works->ampModel == '1' ? 120.0f : 60.0f);
    works->angFwd = needleAngle(forward, number_ofStep_meter_FWD);
    if (works->enablePwrPeak == 1) {
        if (works->angFwdPk == 0)
            works->pkFwd = works->pwrPeak;
        else
            CalcolaPwrPeak(works, works->pwrPeak);
    }
    drawNeedle(works->fb, METER_LEFT_X, works->angFwd, 255, 0, 0);
    if (works->enablePwrPeak == 1) {
        works->angFwdPk = needleAngle(works->pkFwd, number_ofStep_meter_FWD);
        drawNeedle(works->fb, METER_LEFT_X, works->angFwdPk, 0, 0, 0);
    }
    rightMeter(works);
    DrawFreq(works);
    drawText(works, 155, 160, "FORWARD");
    drawPower(works, 180, 180, works->pwrFwd);
}
