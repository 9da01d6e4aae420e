#pragma once
// The two-wire link to the front-panel micro-controller: a command byte out, a 12-bit
// reading back, and the periodic poll of its four readings.
#include <cstdint>

struct Works;
class GpioPort;

constexpr int PIN_TINY_DATA = 4;   // data line; an input while the reply is read
constexpr int PIN_TINY_CLOCK = 6;  // clock line
constexpr int TINY_BIT_MICROS = 200;
constexpr int TINY_REPLY_BITS = 12;
constexpr uint8_t TINY_IDLE = 255;  // tinyCmdActive when no exchange is due
constexpr int TINY_POLL_PERIOD = 200; // button polls between two exchanges

// Shifts cmd out (most significant bit first) and reads the 12-bit reply (most significant
// bit first). Leaves both lines outputs, driven high.
int tinyExchange(GpioPort& port, uint8_t cmd);

// Picks the next code to exchange while tinyCmdActive is idle: every TINY_POLL_PERIOD
// polls either the code waiting in the mailbox (or one this thread posted itself) or the
// next poll code of the rotation
// D1, D2, D3, D0, pause.
void tinySchedule(Works* works);

// Exchanges the active code, if any, and stores the reply's low 8 bits in the supply
// reading named by the code's two low bits; the code then goes back to idle.
void tinyService(Works* works, GpioPort& port);
