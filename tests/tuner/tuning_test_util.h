#pragma once
// Helpers of the automatic-tuning tests: a works record ready to tune, and the band table
// of the preset searches.
#include "core/setup.h"
#include "core/works.h"
#include "tuner/autotune.h"
#include "tuner/tune_word.h"

#include <algorithm>

// Transmitting on antenna 2 of bank 3, side B, with no search run since start-up.
inline void readyToTune(Works* works, Orvosetup* setup, char tipo)
{
    works->setup = setup;
    setup->AutoTuneTipo = tipo;
    works->txOn = 1;
    works->cpFlag = 0;
    works->numBanco = 3;
    works->antenna = 1;
    works->tuneval = TUNE_BIT_SIDE_B;
    Clr_vTuneParam(works);
}

// One row from 7.0 MHz with five tuning presets and a step, closed by a row at 7.3 MHz.
inline void presetBandRow(Works* works, const int (&l)[5], const int (&c)[5], int step)
{
    ConfigRow row;
    row.freqStart = 7000000;
    std::copy(l, l + 5, row.presetL);
    std::copy(c, c + 5, row.presetC);
    row.step = step;
    ConfigRow closing;
    closing.freqStart = 7300000;
    works->configRows = {row, closing};
    works->configRowCount = 2;
}
