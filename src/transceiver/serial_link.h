#pragma once
// The framed serial link to the maker's transceiver: the thread Serial reads its parameter
// frames and spectrum lines, keeps them for the screen and the remote peer, and sends the
// transceiver the tune-carrier requests ("TU120;TX2;" to start, "RX;" to stop).
#include <cstddef>
#include <cstdint>

struct Works;
struct SerParam;

// autoTuneMode bits this link serves: a stop of the carrier asked for (0x04, answered with
// 0x08), a start asked for (0x20, answered with 0x40).
constexpr int AT_ASK_RECEIVE = 0x04;
constexpr int AT_RECEIVE_SENT = 0x08;
constexpr int AT_ASK_TUNE_CARRIER = 0x20;
constexpr int AT_TUNE_CARRIER_SENT = 0x40;

void* Serial(void* arg);
// Copies the transceiver parameter record under its lock.
void getParameters(SerParam* out, Works* works);
// Decodes one parameter frame into the shared record under serMut.
void storeParameters(Works* works, int length, const uint8_t* payload);
// Converts one spectrum line and copies it into the spectrum record under serMut.
void storeFFT(Works* works, int length, const uint8_t* payload);
// Writes the whole length, continuing after short writes; gives up (returning -1, with a log
// line) when the port keeps refusing. Returns the length written.
int writeSerialPort(int fd, const void* data, size_t length, Works* works);
// Writes the peer's data to the transceiver's port, under the lock the link closes it with:
// 0 written, 1 no port open, -1 the port would not take it.
int writeTransceiverPort(Works* works, const void* data, size_t length);
// The pending carrier requests of the tune logic and the manual carrier, sent in order.
void sendCarrierRequests(Works* works, int fd);
