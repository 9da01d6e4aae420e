// The KPA1500 remote command set: the reads station programs make, in the device's
// fixed-width reply forms, and the two writes, through the front panel's paths.
#include "remote/kpa_protocol.h"

#include "amplifier/errors.h"
#include "core/works.h"
#include "remote/station_sets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The fault kind ^SF reports for a code of the unit's error list.
int faultKind(Works* works, int code)
{
    switch (code) {
    case ERR_TEMP1_RECOVERED:
    case ERR_TEMP1_HIGH:
    case ERR_TEMP2_RECOVERED:
    case ERR_TEMP2_HIGH:
        return KPA_FAULT_TEMPERATURE;
    case ERR_HIGH_SWR:
        return KPA_FAULT_SWR;
    case ERR_POWER_IN:
        return KPA_FAULT_INPUT;
    case ERR_TUNE_TIMEOUT:
    case ERR_TUNE_SWR_WARNING:
    case ERR_TUNE_MAX_SWR:
        return KPA_FAULT_ATU_NO_MATCH;
    case ERR_BOARD_FAULT: {
        const ErrorDescriptor d = errorDescriptor(works, code);
        return std::string_view(d.detail, strnlen(d.detail, sizeof d.detail)) == "REFL" ? KPA_FAULT_REFLECTED
                                                                                        : KPA_FAULT_OTHER;
    }
    default:
        return KPA_FAULT_NONE;
    }
}

void appendValue(std::string& reply, std::string_view name, int digits, long value)
{
    long top = 1;
    for (int i = 0; i < digits; i++)
        top *= 10;
    char text[32];
    snprintf(text, sizeof text, "^%.*s%0*ld;", static_cast<int>(name.size()), name.data(), digits,
             std::clamp(value, 0L, top - 1));
    reply += text;
}

long rounded(float value)
{
    return std::isfinite(value) ? std::lround(static_cast<double>(value)) : 0;
}

struct Read {
    std::string_view name;
    int digits;
    long (*value)(Works*);
};

const Read reads[] = {
    {"AE", 1, [](Works* w) -> long { return w->antenna + 1; }},
    {"FR", 5, [](Works* w) -> long { return std::lround(stationFrequency(w) / 1000.0); }},
    {"SW", 3, [](Works* w) -> long { return rounded(w->swr * 10); }},
    {"PWF", 4, [](Works* w) -> long { return rounded(w->pwrFwd); }},
    {"PWR", 4, [](Works* w) -> long { return rounded(w->pwrRefl); }},
    {"PWI", 4, [](Works* w) -> long { return rounded(w->pwrIn); }},
    {"PWK", 4, [](Works* w) -> long { return rounded(w->pwrPeak); }},
    {"SF", 2, [](Works* w) -> long { return kpaFaultCode(w); }},
    {"ON", 1, [](Works*) -> long { return 1; }},
    {"OP", 1, [](Works* w) -> long { return w->ampBypass ? 0 : 1; }},
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A frequency in kHz: one to five digits.
bool parseKhz(std::string_view text, uint32_t& khz)
{
    if (text.empty() || text.size() > 5)
        return false;
    khz = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        khz = khz * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

KpaOutcome outcomeOf(StationSet result)
{
    return result == StationSet::Done ? KpaOutcome::Answered
           : result == StationSet::Busy ? KpaOutcome::Refused
                                        : KpaOutcome::Unknown;
}

KpaOutcome write(Works* works, std::string_view command, bool allowSet)
{
    uint32_t khz = 0;
    const bool standby = command == "OS0";
    if (standby || command == "OS1")
        return allowSet ? outcomeOf(setStationStandby(works, standby)) : KpaOutcome::Refused;
    if (command.substr(0, 2) == "FR" && parseKhz(command.substr(2), khz))
        return allowSet ? outcomeOf(askStationFrequency(works, khz * 1000)) : KpaOutcome::Refused;
    return KpaOutcome::Unknown;
}

} // namespace

int kpaFaultCode(Works* works)
{
    for (int code : errorListCopy(works)) {
        const int kind = faultKind(works, code);
        if (kind != KPA_FAULT_NONE)
            return kind;
    }
    return KPA_FAULT_NONE;
}

KpaOutcome answerKpaCommand(Works* works, std::string_view command, bool allowSet, std::string& reply)
{
    while (!command.empty() && isBlank(command.front()))
        command.remove_prefix(1);
    while (!command.empty() && isBlank(command.back()))
        command.remove_suffix(1);
    if (command.empty()) {
        reply += ';';
        return KpaOutcome::Answered;
    }
    if (command.front() != '^')
        return KpaOutcome::Unknown;
    command.remove_prefix(1);
    for (const Read& r : reads) {
        if (command == r.name) {
            appendValue(reply, r.name, r.digits, r.value(works));
            return KpaOutcome::Answered;
        }
    }
    return write(works, command, allowSet);
}
