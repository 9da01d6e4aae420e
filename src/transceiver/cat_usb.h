#pragma once
// CAT over the transceiver's USB serial port: the port is found by asking every candidate
// "/dev/DODUVOV*" for its identity ("DT;", answer "DT001;"), and the thread Cat relays the
// transceiver's answers (each ending in ';') to the remote peer.
#include <cstddef>

struct Works;

void* Cat(void* arg);
// Probes the candidates, last first; 0 with the open port in catFD, -1 when none answered.
int VerifyCAT(Works* works);
// Writes the peer's CAT data whole to the port, under the lock that closes it, so that a
// port closed meanwhile (its descriptor perhaps already reused for another file) is never
// written. 0 written, 1 no port open (catFD 0), -1 the port would not take it.
int writeCatPort(Works* works, const unsigned char* data, size_t length);
// Closes the port Cat owns, switches CAT off and raises error 20 (so the remote threads are
// restarted); also called when a write of the peer's CAT data fails.
void ExitCAT(Works* works);
// 0 when transceiver, CAT port and USB sound interface are present; 1 no transceiver on the
// USB bus (or the USB library failed), 2 the CAT probe failed, 3 no sound interface.
int Find_Remote_Settings(Works* works);
