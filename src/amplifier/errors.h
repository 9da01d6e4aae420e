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
