#pragma once
// Resetting banks by deleting their files: a bank without files loads as the default
// antenna table with three empty tune memories.
#include <cstdint>

struct Works;

// File kinds of a bank: 0..2 the tuner files of antennas 1..3, 3 the antenna table.
constexpr int BANK_FILE_KINDS = 4;
constexpr int BANKS_ON_DISK = 20;

// Deletes one file of one bank (bank 0..19, kind 0..3; anything else is refused).
void DeleteFileConf(Works* works, int bank, int kind);
// The bank page's reset: bank 0 .. maxBank-1 resets that bank, maxBank resets all of them;
// then the current bank is reloaded and its row re-applied.
void ResetBankFiles(Works* works, int bank);
// The factory default, only when *confirm is set: every file of banks 0..19 deleted, the
// default settings written and read back, the default bank loaded; the running unit's
// connections, board identity and view are kept. *confirm is then cleared.
void FactoryDefault(Works* works, uint8_t* confirm);
