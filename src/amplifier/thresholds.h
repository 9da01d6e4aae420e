#pragma once
// Band thresholds: the protection thresholds of the board follow the frequency's band row.
struct Works;

void SearchCambioSoglie_TS(Works* works);
