#pragma once
// The framed serial link to the maker's transceiver.
struct Works;
struct SerParam;

void* Serial(void* arg);
// Copies the transceiver parameter record under its lock.
void getParameters(SerParam* out, Works* works);
