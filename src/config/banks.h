#pragma once
// Banks: each is an antenna table, three tune memories and the frequency-source interface
// mode. Switching banks and interface modes.
struct Works;

// Loads a bank: its antenna table (and interface mode) and its three tuner files.
void LoadAllBankTable(Works* works, int bank);
// Next bank (wrapping at maxBank), remembered in setup.txt.
void ChangeBanco(Works* works);
// Next interface mode (Generic, KRPIXO, FT-817) for the current bank, saved with it.
void ChangeInterfaceBanco(Works* works);
// Starts or stops the frequency-source threads for interfaceMode and tells the board.
void SetModeWorkIDX(Works* works);
