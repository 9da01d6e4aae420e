#pragma once
// CAT over the transceiver's USB serial port.
struct Works;

void* Cat(void* arg);

// Whether the transceiver's remote links are in place: 0 all present, 1 no transceiver on
// the USB bus, 2 its CAT port does not answer, 3 its sound interface is missing.
int Find_Remote_Settings(Works* works);
