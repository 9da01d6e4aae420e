#pragma once
// Network settings of the unit.
struct Works;

// Reads the name of the network connection (printed by my_zolt).
void ReadLANconnection(Works* works);
