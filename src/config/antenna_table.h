#pragma once
// A bank's antenna table: per band, which antenna output, tuner in line or bypassed,
// attenuator step, amplifier enabled and a power value; its file under /opt/set; and the
// application of the current frequency's row to the amplifier.
#include "core/antenna_row.h"

#include <array>
#include <string>

struct Works;

// Display texts of the interface modes and of the attenuator steps.
extern const char MODEwork[3][8];
extern const char AttVectStr[5][8];

// "/opt/set/antenna.txt" for bank 0 (and any bank outside 1..19), else "/opt/set/antenna_b<bank>.txt".
std::string antennaFileName(int bank);
// The default table: mode 0 resets every row's settings, mode 1 only names and band edges.
void InitTabAntenna(Works* works, int mode);
// Reads the bank's antenna file into the table; returns the interface mode of its header.
int LoadTabConfig(Works* works, int bank);
void SaveTabConfig(Works* works, int bank);
// Stores the live antenna, tuner bypass, attenuator and amplifier state into the row of
// the current frequency, then saves the bank's file.
void SaveToBank(Works* works, int bank, int antennaIdx);
// The first row whose band (both edges included) holds the frequency, or -1.
int antennaRowOf(Works* works, uint32_t frequency);
// A copy of the table's rows, taken under works->antennaTableMutex.
std::array<AntennaRow, ANT_ROWS> antennaTableCopy(Works* works);
// Applies the row of the current frequency: antenna, tuner, amplifier bypass, attenuator.
void GestioneAntennaAutomatica(Works* works);
