#pragma once
// The remote command set of Elecraft's KPA1500 amplifier, which station programs (and
// Hamlib's model 201) use to read an amplifier: ASCII commands "^XX...;", replies
// "^XX<value>;" in the device's fixed-width forms, a bare ";" answered ";" as a wake-up.
// Reads: ^AE (antenna), ^FR (frequency, kHz), ^SW (SWR x 10), ^PWF ^PWR ^PWI ^PWK
// (forward, reflected, input, peak power, watts), ^SF (fault code, KPA_FAULT_*), ^ON
// (powered: 1), ^OP (1 operate, 0 stand-by). Writes, answered with nothing like the device
// does: ^OS0/^OS1 (stand-by/operate), ^FR<kHz> (move to that band).
#include <string>
#include <string_view>

struct Works;

// Fault codes of ^SF, as this unit numbers them (listed in the README): one for each kind
// of fault the device reports that the unit can meet, and KPA_FAULT_OTHER for every other
// protection fault of the unit (board current, forward power, power sensor, transmit
// filter), which the device has no kind for.
constexpr int KPA_FAULT_NONE = 0;
constexpr int KPA_FAULT_TEMPERATURE = 4;   // temperature too high
constexpr int KPA_FAULT_REFLECTED = 8;     // reflected power too high
constexpr int KPA_FAULT_SWR = 9;           // SWR very high
constexpr int KPA_FAULT_ATU_NO_MATCH = 12; // the tuner found no match
constexpr int KPA_FAULT_INPUT = 14;        // input (drive) power too high
constexpr int KPA_FAULT_OTHER = 99;        // any other protection fault of this unit

enum class KpaOutcome {
    Answered,   // a read answered, a write made, or the wake-up
    Refused,    // a write while writes are not allowed, or not possible now: nothing done
    Unknown,    // not a command of the set, or a bad argument: no answer
};

// Answers one command (the text before its ';', surrounding blanks and line ends ignored):
// appends the reply to `reply`. Writes act only when allowSet.
KpaOutcome answerKpaCommand(Works* works, std::string_view command, bool allowSet, std::string& reply);

// The ^SF code of the unit's error list: the first listed error that has a fault kind.
int kpaFaultCode(Works* works);
