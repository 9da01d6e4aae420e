#pragma once
// The FT-817 style serial CAT follower: the thread CatSerial polls the transceiver for its
// frequency (request 00 00 00 00 03, reply of four BCD bytes in units of 10 Hz and a mode
// byte) and leaves it in catSerFreq for the screen loop.
#include <cstddef>
#include <cstdint>

struct Works;

void* CatSerial(void* arg);
// Writes the whole count, continuing after short writes (giving up when the port refuses),
// then restarts the reply timeout. Returns the count written, -1 when it gave up.
int writeSerialCatPort(int fd, const uint8_t* data, size_t length, Works* works);
// Decodes one 5-byte reply to the frequency request into catSerFreq; a reply whose
// frequency bytes are not BCD is logged and leaves the frequency as it was.
void DecodeCatSerialCmd(Works* works, const uint8_t* reply, int count);
// 1 when either nibble of the byte is above 9.
int VerifyByteFreq(uint8_t byte);
// The frequency in Hz of a reply's four BCD bytes; false when one of them is not BCD.
bool decodeBcdFrequency(const uint8_t bytes[4], uint32_t& hertz);
