#pragma once
// The panadapter of the spectrum views: grid, dB and kHz scales, the spectrum trace, and
// the frequency read-out (also drawn on the meter views).
#include "core/relaxed.h"

struct Works;

// Scale of the plot (settings items "Ref Lev", "Ref Pos", "Point Div"): set by the button
// thread, read by the screen loop.
extern Relaxed<int> RefLevel;
extern Relaxed<int> RefPos;
extern Relaxed<int> PointDiv;

struct PlotPoint {
    float x;
    float y;
};

// Sets the scale defaults and computes the grid geometry for 16 divisions across.
void InitGrid();
// Grid, scales, trace and read-out into drawBuf (nothing while a page covers the views).
void DrawGrid(Works* works);
// The frequency read-out above the grid.
void DrawFreq(Works* works);
// Screen point of spectrum entry `index` holding `value` dB on the scale low..high.
PlotPoint CalculatePoint(float low, float high, int index, float value);
// The read-out text of a frequency: Hz below 1 kHz, kHz below 1 MHz, else MHz.
void formatFrequency(char* out, unsigned long size, float hertz);
