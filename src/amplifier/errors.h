#pragma once
// The error list: every fault and warning of the unit, by code 0..24.
#include <vector>

struct Works;

// Adds a code unless it is already listed (or the board has not yet answered "CPFFFF;").
void AddErrore(Works* works, int code);
void DeleteErrore(Works* works, int code);
// 1 when the code is in the list.
int ExistError(Works* works, int code);
// Sets the detail text of a code's descriptor (cut to fit).
void setErrorDetail(Works* works, int code, const char* detail);
// A consistent copy of the list, oldest first.
std::vector<int> errorListCopy(Works* works);
