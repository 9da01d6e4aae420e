#pragma once
// Decoding of the amplifier board's replies.
struct Works;

// reply: the text after the two CRC digits; count: received characters including them.
void DecodeCatCmd(Works* works, const char* reply, int count);
