#pragma once
// CAT over the transceiver's USB serial port.
struct Works;

void* Cat(void* arg);
