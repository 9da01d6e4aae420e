#pragma once
// The low-pass filter table (filter.txt): which of the board's 8 filters serves which
// frequencies and whether it may be used; the choice is sent with "SF".
#include <string>

struct Works;

void LoadTabFiltri(Works* works);
void SaveTabFiltri(Works* works);
// The text SaveTabFiltri writes: the header line and the 8 rows.
std::string filterFileText(const Works* works);
void SetFilterFromfreq(Works* works);
void EnDisFilter(Works* works, int enabled);
