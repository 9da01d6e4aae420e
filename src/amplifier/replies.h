#pragma once
// Decoding of the amplifier board's replies into works.
struct Works;

// reply: the text after the two CRC digits; count: received characters including them.
// Sets the link's next state in every case except a reply too short to name a command.
void DecodeCatCmd(Works* works, const char* reply, int count);
