// The ampctld line protocol: the command table, the levels the unit measures, and the
// application of the few set commands through the same functions the front panel uses.
#include "remote/hamlib_protocol.h"

#include "amplifier/errors.h"
#include "amplifier/filters.h"
#include "amplifier/link.h"
#include "amplifier/thresholds.h"
#include "config/antenna_table.h"
#include "core/works.h"
#include "platform/log.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Hamlib's power states as the client reads them.
constexpr int POWER_STANDBY = 2;
constexpr int POWER_OPERATE = 4;

// Frequencies a set may ask for: the HF and 6 m range the unit covers, with margin.
constexpr double FREQ_MIN_HZ = 100000.0;
constexpr double FREQ_MAX_HZ = 60000000.0;

// Link command numbers of the stand-by switch and of the frequency to the board.
constexpr int CMD_OPERATE = 19;    // "AB0;"
constexpr int CMD_STANDBY = 20;    // "AB1;"
constexpr int CMD_FREQUENCY = 9;   // "FA...;"

struct CommandName {
    char shortName;          // 0 when the command has only a long name
    std::string_view name;   // long name, written "\name" by the client
    HamlibCommand command;
};

const CommandName commandTable[] = {
    {'q', "quit", HamlibCommand::Quit},
    {'Q', "", HamlibCommand::Quit},
    {0, "dump_state", HamlibCommand::DumpState},
    {'f', "get_freq", HamlibCommand::GetFreq},
    {'F', "set_freq", HamlibCommand::SetFreq},
    {'l', "get_level", HamlibCommand::GetLevel},
    {0, "get_powerstat", HamlibCommand::GetPowerstat},
    {0, "set_powerstat", HamlibCommand::SetPowerstat},
    {'R', "reset", HamlibCommand::Reset},
    {'_', "get_info", HamlibCommand::GetInfo},
};

HamlibCommand commandOf(std::string_view word)
{
    if (word.size() > 1 && word[0] == '\\') {
        const std::string_view name = word.substr(1);
        for (const CommandName& c : commandTable)
            if (!c.name.empty() && c.name == name)
                return c.command;
        return HamlibCommand::NotImplemented;
    }
    if (word.size() == 1)
        for (const CommandName& c : commandTable)
            if (c.shortName == word[0])
                return c.command;
    return HamlibCommand::NotImplemented;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The next blank-separated word of `rest` (advanced past it); empty at the end.
std::string_view nextWord(std::string_view& rest)
{
    size_t i = 0;
    while (i < rest.size() && isBlank(rest[i]))
        i++;
    size_t end = i;
    while (end < rest.size() && !isBlank(rest[end]))
        end++;
    const std::string_view word = rest.substr(i, end - i);
    rest = rest.substr(end);
    return word;
}

// A whole word as a number (decimal, optional fraction); false for anything else.
bool parseNumber(std::string_view word, double& value)
{
    if (word.empty() || word.size() > 32)
        return false;
    const std::string text(word);
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(value);
}

// A whole word as a whole number (written as Hamlib's clients write them, "2" or "2.0").
bool parseInteger(std::string_view word, long& value)
{
    double number = 0;
    if (!parseNumber(word, number) || number != std::floor(number) || std::fabs(number) > 1e9)
        return false;
    value = static_cast<long>(number);
    return true;
}

void appendReport(std::string& reply, int code)
{
    char text[24];
    snprintf(text, sizeof text, "RPRT %d\n", code == 0 ? 0 : -code);
    reply += text;
}

void appendLine(std::string& reply, const char* format, auto... values)
{
    char text[128];
    snprintf(text, sizeof text, format, values...);
    reply += text;
    reply += '\n';
}

// The error list's texts ("title detail" of each listed code, oldest first, ", " between),
// faults or warnings; "None" when there is none of the kind. A fault is an error that
// protects the amplifier (severe or needing a bias reset) and stays until reset; every
// other listed error is a warning.
std::string errorTexts(Works* works, bool faults)
{
    std::string out;
    for (int code : errorListCopy(works)) {
        const ErrorDescriptor d = errorDescriptor(works, code);
        const bool isFault = (d.flags & (ERR_SEVERE | ERR_PROTECTION)) && !(d.flags & ERR_TEMPORARY);
        if (isFault != faults)
            continue;
        if (!out.empty())
            out += ", ";
        out.append(d.title, strnlen(d.title, sizeof d.title));
        std::string_view detail(d.detail, strnlen(d.detail, sizeof d.detail));
        while (!detail.empty() && detail.back() == ' ')
            detail.remove_suffix(1);
        if (!detail.empty()) {
            out += ' ';
            out += detail;
        }
    }
    return out.empty() ? "None" : out;
}

// The frequency in use: in Generic mode the amplifier's own counter (once it has measured
// a carrier), else the frequency taken from the transceiver.
uint32_t currentFrequency(Works* works)
{
    const int32_t mode = works->interfaceMode;
    const uint32_t measured = works->freqMeasured;
    const uint32_t frequency = works->frequency;
    return mode == 0 && measured > 0 ? measured : frequency;
}

// Powers are answered in whole watts, the SWR with six decimals (Hamlib's own forms).
int answerLevel(Works* works, std::string_view level, std::string& reply)
{
    struct PowerLevel {
        std::string_view name;
        float (*read)(const Works*);
    };
    static const PowerLevel powers[] = {
        {"PWRFORWARD", [](const Works* w) -> float { return w->pwrFwd; }},
        {"PWRREFLECTED", [](const Works* w) -> float { return w->pwrRefl; }},
        {"PWRINPUT", [](const Works* w) -> float { return w->pwrIn; }},
        {"PWRPEAK", [](const Works* w) -> float { return w->pwrPeak; }},
    };
    if (level == "?") {
        reply += "SWR PWRFORWARD PWRREFLECTED PWRINPUT PWRPEAK FAULT WARNING\n";
        return 0;
    }
    if (level == "SWR") {
        const float swr = works->swr;
        appendLine(reply, "%f", static_cast<double>(swr));
        return 0;
    }
    for (const PowerLevel& p : powers) {
        if (p.name == level) {
            const float watts = p.read(works);
            appendLine(reply, "%ld", std::lround(static_cast<double>(watts)));
            return 0;
        }
    }
    if (level == "FAULT" || level == "WARNING") {
        reply += errorTexts(works, level == "FAULT");
        reply += '\n';
        return 0;
    }
    return HAMLIB_EINVAL;
}

// Moves the amplifier to the band of the frequency, the way a new frequency from the
// transceiver does: the board is told the frequency (outside Generic mode), then the
// low-pass filter, the protection thresholds and the antenna row follow. In Generic mode
// the frequency is the counter's, so the set stands until the counter measures a carrier.
void applyFrequency(Works* works, uint32_t hz)
{
    const int32_t mode = works->interfaceMode;
    if (mode == 0)
        works->freqMeasured = hz;
    works->frequency = hz;
    if (mode != 0)
        IncPNTIn_CMDLinear(CMD_FREQUENCY, works);
    SetFilterFromfreq(works);
    SearchCambioSoglie_TS(works);
    GestioneAntennaAutomatica(works);
    works->lastFrequency = hz;
    logErr("Hamlib: frequency set to %lu Hz\n", static_cast<unsigned long>(hz));
}

int setFreq(Works* works, std::string_view arg)
{
    double hz = 0;
    if (!parseNumber(arg, hz) || hz < FREQ_MIN_HZ || hz > FREQ_MAX_HZ)
        return HAMLIB_EINVAL;
    applyFrequency(works, static_cast<uint32_t>(std::lround(hz)));
    return 0;
}

int setPowerstat(Works* works, std::string_view arg)
{
    long state = 0;
    if (!parseInteger(arg, state) || (state != POWER_STANDBY && state != POWER_OPERATE))
        return HAMLIB_EINVAL;
    const int command = state == POWER_STANDBY ? CMD_STANDBY : CMD_OPERATE;
    if (IncPNTIn_CMDLinear(command, works) < 0)
        return HAMLIB_ERJCTED;
    logErr("Hamlib: %s\n", state == POWER_STANDBY ? "stand-by" : "operate");
    return 0;
}

int resetFaults(Works* works, std::string_view arg)
{
    long kind = 0;
    if (!parseInteger(arg, kind))
        return HAMLIB_EINVAL;
    logErr("Hamlib: fault reset\n");
    GPIO_Errori(works);
    return 0;
}

bool isSet(HamlibCommand c)
{
    return c == HamlibCommand::SetFreq || c == HamlibCommand::SetPowerstat || c == HamlibCommand::Reset;
}

} // namespace

HamlibRequest parseHamlibLine(std::string_view line)
{
    HamlibRequest r;
    std::string_view rest = line;
    const std::string_view word = nextWord(rest);
    if (word.empty())
        return r;
    r.command = commandOf(word);
    r.arg1 = nextWord(rest);
    r.arg2 = nextWord(rest);
    return r;
}

int answerHamlibLine(Works* works, std::string_view line, bool allowSet, std::string& reply)
{
    if (line.size() > HAMLIB_LINE_MAX) {
        appendReport(reply, HAMLIB_EINVAL);
        return 0;
    }
    const HamlibRequest r = parseHamlibLine(line);
    if (isSet(r.command) && !allowSet) {
        appendReport(reply, HAMLIB_ERJCTED);
        return 0;
    }
    switch (r.command) {
    case HamlibCommand::Empty:
        return 0;
    case HamlibCommand::Quit:
        return 1;
    case HamlibCommand::DumpState:
        // Protocol version 0, then the model: the unit is reached as Hamlib's NET amplifier.
        reply += "0\n2\n";
        return 0;
    case HamlibCommand::GetFreq:
        appendLine(reply, "%lu", static_cast<unsigned long>(currentFrequency(works)));
        return 0;
    case HamlibCommand::GetLevel: {
        const int code = r.arg1.empty() ? HAMLIB_EINVAL : answerLevel(works, r.arg1, reply);
        if (code != 0)
            appendReport(reply, code);
        return 0;
    }
    case HamlibCommand::GetPowerstat: {
        const uint8_t bypass = works->ampBypass;
        appendLine(reply, "%d", bypass ? POWER_STANDBY : POWER_OPERATE);
        return 0;
    }
    case HamlibCommand::GetInfo: {
        const AmpIdentity id = ampIdentity(works);
        appendLine(reply, "ampctl %s, board firmware %s", works->versione,
                   id.microVersion[0] ? id.microVersion : "unknown");
        return 0;
    }
    case HamlibCommand::SetFreq:
        appendReport(reply, setFreq(works, r.arg1));
        return 0;
    case HamlibCommand::SetPowerstat:
        appendReport(reply, setPowerstat(works, r.arg1));
        return 0;
    case HamlibCommand::Reset:
        appendReport(reply, resetFaults(works, r.arg1));
        return 0;
    case HamlibCommand::NotImplemented:
        break;
    }
    appendReport(reply, HAMLIB_ENIMPL);
    return 0;
}
