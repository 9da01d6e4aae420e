#pragma once
// The error list: every fault and warning of the unit, by code 0..24, and the recovery
// the error key runs. The list, its flag byte and the detail texts are guarded by
// works->errMutex; readers take a consistent copy.
#include "core/works.h"

#include <vector>

// Flag bits of an error descriptor.
constexpr uint8_t ERR_SEVERE = 1;       // tile drawn red
constexpr uint8_t ERR_PROTECTION = 2;   // needs a bias reset
constexpr uint8_t ERR_TEMPORARY = 4;    // removed by the error key

// Error codes: the index of each descriptor in the table below. Every subsystem raises
// and clears its errors by these names.
constexpr int ERR_TEMP1_RECOVERED = 0;     // sensor 1 back below its limit after an alarm
constexpr int ERR_HIGH_SWR = 1;            // board status: high SWR
constexpr int ERR_TEMP1_HIGH = 2;          // sensor 1 above its limit
constexpr int ERR_POWER_IN = 3;            // board status: drive power fault
constexpr int ERR_COMM = 4;                // the amplifier link gave up a command
constexpr int ERR_REMOTE_USB = 5;          // transceiver USB stream
constexpr int ERR_AUDIO_MISSING = 6;       // transceiver sound interface not found
constexpr int ERR_IXO_MODE = 7;            // transceiver serial link not enabled
constexpr int ERR_IXO_EXTIO = 8;           // transceiver serial link
constexpr int ERR_AUDIO_READ = 9;          // audio capture (or its sound interface missing)
constexpr int ERR_AUDIO_WRITE = 10;        // audio playback
constexpr int ERR_WEB_SOCKET = 11;         // remote link
constexpr int ERR_TUNE_TIMEOUT = 12;       // automatic tuning ran out of time
constexpr int ERR_TUNE_SWR_WARNING = 13;   // automatic tuning ended above the target SWR
constexpr int ERR_AUTOTUNE_ABORT = 14;     // automatic tuning aborted
constexpr int ERR_BOARD_FAULT = 15;        // board status: fault, detail names it
constexpr int ERR_MICRO_RESET = 16;        // board status: the board's processor was reset
constexpr int ERR_CMD_NOT_AVAILABLE = 17;  // key pressed where its command does not apply
constexpr int ERR_TUNE_MAX_SWR = 18;       // automatic tuning above the maximum SWR
constexpr int ERR_BAND_STANDBY = 19;       // board status: band change in stand-by
constexpr int ERR_REMOTE_CAT = 20;         // transceiver CAT port
constexpr int ERR_TEMP2_RECOVERED = 21;    // sensor 2 back below its limit after an alarm
constexpr int ERR_TEMP2_HIGH = 22;         // sensor 2 above its limit
constexpr int ERR_TEMP1_WARNING = 23;      // sensor 1 close below its limit
constexpr int ERR_TEMP2_WARNING = 24;      // sensor 2 close below its limit

// The descriptors as the unit ships them, indexed by code (filled into works at start-up).
extern const ErrorDescriptor errorTableData[ERROR_CODES];
// Copies the descriptors into works->errTable.
void InitErrorTable(Works* works);

// Adds a code unless it is already listed (or the board has not yet answered "CPFFFF;").
void AddErrore(Works* works, int code);
// Removes a code if present.
void DeleteErrore(Works* works, int code);
// 1 when the code is in the list.
int ExistError(Works* works, int code);
// The first code in the list, -1 when it is empty.
int ExistAnError(Works* works);
// Removes every code whose descriptor marks it temporary.
void VerifyWarningTemporanei(Works* works);
// Removes every code.
void VerifyWarningTemporaneiDopoResetBias(Works* works);
// Sets the detail text of a code's descriptor (cut to fit).
void setErrorDetail(Works* works, int code, const char* detail);
// A consistent copy of the list, oldest first.
std::vector<int> errorListCopy(Works* works);
// A consistent copy of one descriptor.
ErrorDescriptor errorDescriptor(Works* works, int code);
// The board has answered "CPFFFF;": errors may be listed from now on (clears cpFlag bit 0).
void enableErrorList(Works* works);

// The shared error hold-off (works->retryErrHold, ms): while it runs no link raises its
// error again. Claiming starts it when it is 0 and says whether this caller did; the screen
// loop counts it down. Both are single atomic steps, whichever threads meet on it.
bool claimErrorHold(Works* works, int32_t ms);
void countDownErrorHold(Works* works, int32_t elapsedMs);

// The error flag byte (bit 0 bias reset needed, bit 1 display cleared, bit 2 temporary
// warnings pending), read and changed under the list's lock.
uint8_t errorFlags(Works* works);
void setErrorFlags(Works* works, uint8_t bits);
void clearErrorFlags(Works* works, uint8_t bits);

// Recovery (fault_recovery.cpp).
void ResetBiasCmd(Works* works);
void ClearDisplayError(Works* works);
int GPIO_Errori(Works* works);
void GestErrore(Works* works);
void GestErroreRemote(Works* works);
void GestErroreSerial(Works* works);
void VerificaEsistonoErrori(Works* works);
