#pragma once
// Run-time labels: each setter rewrites labels of one bar from the live values, and only
// while that bar is the current one (pageIdx); otherwise it changes nothing.
#include <cstdint>

struct Works;

// The network mode of a tune value as shown: "CL", "LC", or "ByP" (bypass or none).
const char* tuneModeText(uint32_t tuneval);

// A bar's lower label of one button, formatted from one number.
void setLowerNumberLabel(int bar, int button, const char* format, int value);

// Main bar, button 2 lower: the attenuator step, or stand-by.
void SetAttenuatorLabel(Works* works);
// Main bar, button 1 lower: the bank.
void SetModeWorkLabel(Works* works);
// Main bar, button 3 lower: "Auto %d" when the band row chose the antenna output.
void SetAutoAntennaLabel(Works* works, int antennaNumber);
// Tune bar, button 5 lower: the tuner bypass state, or a given text.
void LabelByPassATU(Works* works);
void LabelByPassOrvo(Works* works, const char* text);
// Save, copy and reset bars: the banks and antenna chosen.
void LabelSAVEATU(Works* works);
void LblCOPY(Works* works);
void LblRESET(Works* works);
// Interface bar, button 2 lower: the interface of the bank.
void LblMenuAntenna(Works* works);
// Manual-tune bar: inductance, capacitance and network mode of the tune value.
void ImpostaLblManuale(Works* works);
// Copies the interface name of mode 0..2 into destination (at least 8 bytes); other
// modes copy nothing.
void GetLblInterface(int mode, char* destination);
