#pragma once
// Decoding of the amplifier board's replies into works.
struct Works;

// reply: the text after the two CRC digits; count: received characters including them.
// Sets the link's next state in every case except a reply too short to name a command.
void DecodeCatCmd(Works* works, const char* reply, int count);

// The board reports that it transmits (status byte 1, bit 0).
bool ampTransmitting(const Works* works);
