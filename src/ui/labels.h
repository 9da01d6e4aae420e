#pragma once
// Run-time labels: each setter rewrites labels of one bar from the live values, and only
// while that bar is the current one (pageIdx); otherwise it changes nothing.
#include <cstdint>

struct Works;

// The network mode of a tune value as shown: "CL", "LC", or "ByP" (bypass or none).
const char* tuneModeText(uint32_t tuneval);

// A bar's lower label of one button: the prefix, then the number in decimal.
void setLowerNumberLabel(int bar, int button, const char* prefix, int value);

// Main bar, button 2 lower: the attenuator step, or stand-by.
void SetAttenuatorLabel(Works* works);
// Main bar, button 1 lower: the bank.
void SetModeWorkLabel(Works* works);
// Tune bar, button 5 lower: the tuner bypass state.
void LabelByPassATU(Works* works);
// Save, copy and reset bars: the banks and antenna chosen.
void LabelSAVEATU(Works* works);
void LblCOPY(Works* works);
void LblRESET(Works* works);
// Interface bar, button 2 lower: the interface of the bank.
void LblMenuAntenna(Works* works);
// Manual-tune bar: inductance, capacitance and network mode of the tune value.
void ImpostaLblManuale(Works* works);
// The name of interface mode 0..2 ("Generic", "KRPIXO", " FT-817"); "" for others.
const char* interfaceName(int mode);
