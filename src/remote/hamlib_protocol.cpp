// The ampctld line protocol: the command table, the levels the unit measures, the plain
// and extended answer forms, and the few set commands, made through the front panel's paths.
#include "remote/hamlib_protocol.h"

#include "amplifier/errors.h"
#include "core/works.h"
#include "remote/station_sets.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Hamlib's power states as the client reads them.
constexpr long POWER_OFF = 0;
constexpr long POWER_ON = 1;
constexpr long POWER_STANDBY = 2;
constexpr long POWER_OPERATE = 4;

// The model name the extended state dump gives.
constexpr const char* MODEL_NAME = "ampctl";

struct CommandName {
    char shortName;          // 0 when the command has only a long name
    std::string_view name;   // long name, written "\name" by the client
    HamlibCommand command;
    bool isSet;
    bool takesArg;
};

const CommandName commandTable[] = {
    {'q', "quit", HamlibCommand::Quit, false, false},
    {'Q', "", HamlibCommand::Quit, false, false},
    {0, "dump_state", HamlibCommand::DumpState, false, false},
    {'f', "get_freq", HamlibCommand::GetFreq, false, false},
    {'F', "set_freq", HamlibCommand::SetFreq, true, true},
    {'l', "get_level", HamlibCommand::GetLevel, false, true},
    {0, "get_powerstat", HamlibCommand::GetPowerstat, false, false},
    {0, "set_powerstat", HamlibCommand::SetPowerstat, true, true},
    {'R', "reset", HamlibCommand::Reset, true, true},
    {'_', "get_info", HamlibCommand::GetInfo, false, false},
};

const CommandName* entryOf(HamlibCommand command)
{
    for (const CommandName& c : commandTable)
        if (c.command == command && !c.name.empty())
            return &c;
    return nullptr;
}

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

// A punctuation mark that opens the extended form; the others start a command ("\name",
// "_") or a comment ("#").
bool isSeparatorMark(char c)
{
    return std::ispunct(static_cast<unsigned char>(c)) && c != '\\' && c != '_' && c != '#';
}

void skipBlanks(std::string_view& rest)
{
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
}

// The next blank-separated word of `rest` (advanced past it); empty at the end.
std::string_view nextWord(std::string_view& rest)
{
    skipBlanks(rest);
    size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end]))
        end++;
    const std::string_view word = rest.substr(0, end);
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

std::string formatted(const char* format, auto... values)
{
    char text[128];
    snprintf(text, sizeof text, format, values...);
    return text;
}

// What a command answers before its form is chosen: a report code and up to two value
// lines, each with the label the extended form puts before it.
struct Answer {
    struct Line {
        std::string_view label;
        std::string value;
        bool extendedOnly = false;
    };
    int code = 0;
    std::array<Line, 2> lines;
    size_t count = 0;

    void add(std::string_view label, std::string value, bool extendedOnly = false)
    {
        if (count < lines.size())
            lines[count++] = {label, std::move(value), extendedOnly};
    }
};

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

// Powers are answered in whole watts, the SWR with six decimals (Hamlib's own forms).
void answerLevel(Works* works, std::string_view level, Answer& a)
{
    struct PowerLevel {
        std::string_view name;
        float (*read)(const Works*);
    };
    static const PowerLevel powers[] = {
        {"PWRINPUT", [](const Works* w) -> float { return w->pwrIn; }},
        {"PWRFORWARD", [](const Works* w) -> float { return w->pwrFwd; }},
        {"PWRREFLECTED", [](const Works* w) -> float { return w->pwrRefl; }},
        {"PWRPEAK", [](const Works* w) -> float { return w->pwrPeak; }},
    };
    if (level == "?") {
        a.add("", "SWR PWRINPUT PWRFORWARD PWRREFLECTED PWRPEAK FAULT WARNING ");
    } else if (level == "SWR") {
        const float swr = works->swr;
        a.add("", formatted("%f", static_cast<double>(swr)));
    } else if (level == "FAULT" || level == "WARNING") {
        a.add("", errorTexts(works, level == "FAULT"));
    } else {
        for (const PowerLevel& p : powers) {
            if (p.name == level) {
                const float watts = p.read(works);
                a.add("", formatted("%ld", std::lround(static_cast<double>(watts))));
                return;
            }
        }
        a.code = HAMLIB_EINVAL;
    }
}

int reportOf(StationSet result)
{
    switch (result) {
    case StationSet::Done:
        return 0;
    case StationSet::Busy:
        return HAMLIB_ERJCTED;
    case StationSet::OutOfRange:
        break;
    }
    return HAMLIB_EINVAL;
}

int setFreq(Works* works, std::string_view arg)
{
    double hz = 0;
    if (!parseNumber(arg, hz) || hz < 0 || hz > 4e9)
        return HAMLIB_EINVAL;
    return reportOf(askStationFrequency(works, static_cast<uint32_t>(std::lround(hz))));
}

int setPowerstat(Works* works, std::string_view arg)
{
    long state = 0;
    if (!parseInteger(arg, state))
        return HAMLIB_EINVAL;
    switch (state) {
    case POWER_ON:  // the unit answering is on already
        return 0;
    case POWER_OFF:
        return HAMLIB_ENAVAIL;
    case POWER_STANDBY:
    case POWER_OPERATE:
        return reportOf(setStationStandby(works, state == POWER_STANDBY));
    default:
        return HAMLIB_EINVAL;
    }
}

int resetFaults(Works* works, std::string_view arg)
{
    long kind = 0;
    if (!parseInteger(arg, kind))
        return HAMLIB_EINVAL;
    resetStationFaults(works);
    return 0;
}

Answer answer(Works* works, const HamlibRequest& r, bool allowSet)
{
    Answer a;
    const CommandName* entry = entryOf(r.command);
    if (entry && entry->isSet && !allowSet) {
        a.code = HAMLIB_ERJCTED;
        return a;
    }
    if (entry && entry->takesArg && r.arg.empty()) {
        a.code = HAMLIB_EINVAL;
        return a;
    }
    switch (r.command) {
    case HamlibCommand::DumpState:
        a.add("ampctld Protocol Ver: ", "0");
        a.add("Amplifier Model: ", MODEL_NAME, true);
        break;
    case HamlibCommand::GetFreq:
        a.add("Frequency(Hz): ", formatted("%lu", static_cast<unsigned long>(stationFrequency(works))));
        break;
    case HamlibCommand::GetLevel:
        answerLevel(works, r.arg, a);
        break;
    case HamlibCommand::GetPowerstat: {
        const uint8_t bypass = works->ampBypass;
        a.add("Power Status: ", formatted("%ld", bypass ? POWER_STANDBY : POWER_OPERATE));
        break;
    }
    case HamlibCommand::GetInfo: {
        const AmpIdentity id = ampIdentity(works);
        a.add("Info: ", formatted("ampctl %s, board firmware %s", works->versione,
                                  id.microVersion[0] ? id.microVersion : "unknown"));
        break;
    }
    case HamlibCommand::SetFreq:
        a.code = setFreq(works, r.arg);
        break;
    case HamlibCommand::SetPowerstat:
        a.code = setPowerstat(works, r.arg);
        break;
    case HamlibCommand::Reset:
        a.code = resetFaults(works, r.arg);
        break;
    case HamlibCommand::Empty:
    case HamlibCommand::Quit:
    case HamlibCommand::NotImplemented:
        a.code = HAMLIB_ENIMPL;
        break;
    }
    return a;
}

void appendReport(std::string& reply, int code)
{
    reply += formatted("RPRT %d\n", code == 0 ? 0 : -code);
}

// Plain form: the values of a query, "RPRT 0" for a set, the report of a failure.
void appendPlain(const Answer& a, bool isSet, std::string& reply)
{
    if (a.code != 0 || isSet) {
        appendReport(reply, a.code);
        return;
    }
    for (size_t i = 0; i < a.count; i++) {
        if (a.lines[i].extendedOnly)
            continue;
        reply += a.lines[i].value;
        reply += '\n';
    }
}

// Extended form: "name: argument", the labelled values, the report, each followed by the
// separator but the report, which ends its line.
void appendExtended(const Answer& a, const CommandName& entry, const HamlibRequest& r, std::string& reply)
{
    reply += entry.name;
    reply += ':';
    if (entry.takesArg && !r.arg.empty()) {
        reply += ' ';
        reply += r.arg;
    }
    reply += r.separator;
    for (size_t i = 0; i < a.count && a.code == 0; i++) {
        reply += a.lines[i].label;
        reply += a.lines[i].value;
        reply += r.separator;
    }
    appendReport(reply, a.code);
}

} // namespace

HamlibRequest parseHamlibLine(std::string_view line)
{
    HamlibRequest r;
    std::string_view rest = line;
    skipBlanks(rest);
    if (rest.empty() || rest.front() == '#')
        return r;
    if (isSeparatorMark(rest.front())) {
        r.separator = rest.front() == '+' ? '\n' : rest.front();
        rest.remove_prefix(1);
    }
    const std::string_view word = nextWord(rest);
    if (word.empty())
        return r;
    r.command = commandOf(word);
    r.arg = nextWord(rest);
    return r;
}

int answerHamlibLine(Works* works, std::string_view line, bool allowSet, std::string& reply)
{
    if (line.size() > HAMLIB_LINE_MAX) {
        appendReport(reply, HAMLIB_EINVAL);
        return 0;
    }
    const HamlibRequest r = parseHamlibLine(line);
    if (r.command == HamlibCommand::Empty)
        return 0;
    if (r.command == HamlibCommand::Quit)
        return 1;
    const Answer a = answer(works, r, allowSet);
    const CommandName* entry = entryOf(r.command);
    if (r.separator != 0 && entry)
        appendExtended(a, *entry, r, reply);
    else
        appendPlain(a, entry && entry->isSet, reply);
    return 0;
}
