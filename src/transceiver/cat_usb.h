#pragma once
// CAT over the transceiver's USB serial port: the port is found by asking every candidate
// "/dev/DODUVOV*" for its identity ("DT;", answer "DT001;"), and the thread Cat relays the
// transceiver's answers (each ending in ';') to the remote peer.
struct Works;

void* Cat(void* arg);
// Probes the candidates, last first; 0 with the open port in catFD, -1 when none answered.
int VerifyCAT(Works* works);
// Closes the port Cat owns, switches CAT off and raises error 20 (so the remote threads are
// restarted); also called when a write of the peer's CAT data fails.
void ExitCAT(Works* works);
// 0 when transceiver, CAT port and USB sound interface are present; 1 no transceiver on the
// USB bus (or the USB library failed), 2 the CAT probe failed, 3 no sound interface.
int Find_Remote_Settings(Works* works);
