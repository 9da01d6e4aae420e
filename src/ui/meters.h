#pragma once
// The two analogue meters of the main views: needle angles and tips, peak hold and decay,
// the SWR scale and the power read-outs.
#include <cstddef>

struct Works;
struct FrameBuffer;

// Needle geometry: centres of the left and right meter, the pivot row, radius and offset.
constexpr int METER_LEFT_X = 210;
constexpr int METER_RIGHT_X = 590;
constexpr int METER_Y = 260;
constexpr int NEEDLE_RADIUS = 200;
constexpr int NEEDLE_OFFSET = 15;

// Power in dBm of a power in watts.
float ConvertW_to_dBm(float watts);
// Meter steps (0..60) of an SWR, by the SWR scale of the meter.
float CalcolaSWR(float swr);
// Needle angle in radians of a value on a scale of `steps`: 0 points up and to the left,
// full scale up and to the right.
float needleAngle(float value, int steps);

struct NeedleTip {
    int x;
    int y;
};
// Tip pixel of the needle at angle theta on the meter centred at centreX.
NeedleTip needleTip(int centreX, float theta);
// The needle: three lines from the pivot points to the tip.
void drawNeedle(FrameBuffer* fb, int centreX, float theta, int red, int green, int blue);

// A power read-out: "%02.01fW", or with dBm "%02.01fdBm" ("---dBm" below 1 mW).
void formatPower(char* out, size_t size, float watts, bool dBm);

// Peak hold of the left (CalcolaPwrPeak) and right (CalcolaPwrPeak2) meter: a new maximum
// is held for TimerPeakSec; once the hold has run out, the held value follows the readings
// as a running average.
void CalcolaPwrPeak(Works* works, float reading);
void CalcolaPwrPeak2(Works* works, float reading);
// One frame's decay of a held peak after elapsedMs: while the hold lasts, the held value
// sinks by PeakDecrement every PeakDecrementTime + 1 frames.
void decayPeak(int& holdMs, int& frameCount, float& held, int elapsedMs);

// Both meters with live and peak needles, labels and read-outs, into drawBuf.
void DrawMeters(Works* works);
