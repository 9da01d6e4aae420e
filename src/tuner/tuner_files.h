#pragma once
// The tuner files: one per bank and antenna output, holding that antenna's tune memory.
#include <string>

struct Works;

// "/opt/set/atu_ant<antenna+1>[_b<bank>].txt"; banks 1..19 carry the suffix.
std::string atuFileName(int bank, int antenna);
// Replaces the antenna's memory with the file's content (empty when the file is missing).
void LoadTabAtu(Works* works, int bank, int antenna);
// Writes the antenna's memory to its file: one line per present slot, ascending.
void SaveTabAtu(Works* works, int bank, int antenna);
