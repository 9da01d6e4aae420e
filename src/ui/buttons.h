#pragma once
// The six front-panel buttons and the front-panel micro-controller exchange.
struct Works;
class GpioPort;

constexpr int PIN_FIRST_BUTTON = 22; // buttons 1..6 on GPIO 22..27, pressed = low
constexpr int PIN_LED = 13;          // front-panel LED: high while svcFlags bit 0 is 0
constexpr int PIN_HOLD = 16;         // held high on every poll
constexpr int BUTTON_POLL_MICROS = 2000;

// Thread entry: maps the register block (the process ends with status 8 or 255 when it
// cannot), then polls the buttons every 2 ms until running drops.
void* GPIO(void* arg);

// Directions and pull-ups of the pins, LED on.
void gpioSetUp(GpioPort& port);
// The poll loop on a prepared port, until running drops.
void buttonLoop(Works* works, GpioPort& port);
