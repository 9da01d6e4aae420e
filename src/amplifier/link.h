#pragma once
// The serial link to the amplifier board: one thread, strict request/reply, a queue of
// command numbers that any thread may fill.
#include <cstddef>
#include <cstdint>

#include "core/relaxed.h"

struct Works;

// State of the link thread and, at the same time, the number of the next command to send.
// Written by the link thread only; others (a status display, the tests) may read it.
extern Relaxed<int32_t> linearProcessStatus;
// Milliseconds of silence counted since the last command was written.
extern int32_t counterrortimeout;

enum LinkState { LINK_WAIT_REPLY = 2, LINK_DECODE = 3, LINK_IDLE = 31 };

// Command numbers callers queue, by what they do (the link's command table).
enum LinkCommand {
    CMD_SET_ANTENNA = 7,
    CMD_FREQUENCY = 9,
    CMD_READ_TUNE = 10,
    CMD_TUNE_WORD = 11,
    CMD_ATTENUATOR = 14,
    CMD_ATTENUATOR_TUNE = 15,
    CMD_CLEAR_PROTECTION = 13,
    CMD_PROTECTION_OFF = 17,
    CMD_PROTECTION_ON = 18,
    CMD_AMP_IN_LINE = 19,
    CMD_AMP_BYPASS = 20,
    CMD_AN_STATE = 21,
    CMD_THRESHOLDS = 22,
    CMD_TUNE_RECALL = 27,
    CMD_GENERAL_SETTINGS = 35,
    CMD_TUNE_BYPASS = 39,
    CMD_TUNE_ZERO = 40,
};

void* Linear(void* arg);
int OpenLinear(Works* works);
// Queues a command number; returns the number, or -1 when the queue is full (refused, logged).
int IncPNTIn_CMDLinear(int number, Works* works);
// Takes the next queued number; -1 when the queue is empty.
int takeQueuedCmd(Works* works);
bool cmdQueueEmpty(Works* works);
void InitMicroCmd(Works* works);
void writeLinearPort(int fd, const char* text, size_t length, Works* works);
void LastCmdSent(Works* works, char letter1, char letter2, int number);
void SetAttenuatorCMD(Works* works, int code, int number);
void GestRetrayCMD(Works* works);
void NextCmdPriority(Works* works, int state);
// Builds the text of command `number`, records it and writes it; sets the next state.
void sendLinearCommand(Works* works, int number);
// The status text for the remote peer (53 bytes with the terminating zero).
void CreaBufferDiStato(Works* works, char* out, size_t outSize);
