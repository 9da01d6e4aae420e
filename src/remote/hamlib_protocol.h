#pragma once
// The line protocol of Hamlib's network amplifier daemon (ampctld), answered the way
// ampctld 4.5 answers it: one command a line, short ("f", "l SWR") or long ("\get_freq").
// A query answers its bare value lines, a set "RPRT 0", a failure "RPRT -<Hamlib error
// code>". A line starting with a punctuation mark asks for the extended form, that mark
// separating the items ('+' separates with line ends): the command name with its
// arguments, the labelled values, and the report.
#include <string>
#include <string_view>

struct Works;

// Hamlib's error codes as the client reads them after "RPRT -".
constexpr int HAMLIB_EINVAL = 1;     // bad argument or unreadable line
constexpr int HAMLIB_ENIMPL = 4;     // command not implemented
constexpr int HAMLIB_ERJCTED = 9;    // refused: sets not allowed, or not now
constexpr int HAMLIB_ENAVAIL = 11;   // the unit cannot do it (switch itself off)

// The longest command line taken (without its line end); a longer one is an error.
constexpr size_t HAMLIB_LINE_MAX = 256;

enum class HamlibCommand {
    Empty,        // blank line or comment: no answer
    Quit,         // "q", "Q", "\quit": the client ends the connection
    DumpState,
    GetFreq,
    SetFreq,
    GetLevel,
    GetPowerstat,
    SetPowerstat,
    Reset,
    GetInfo,
    NotImplemented,
};

// A command line split into the command and its argument.
struct HamlibRequest {
    HamlibCommand command = HamlibCommand::Empty;
    char separator = 0;  // 0: plain answers; else the extended form's item separator
    std::string_view arg;
};

// Splits one line (without its line end) into command and argument. Pure: reads only the
// line, within its length.
HamlibRequest parseHamlibLine(std::string_view line);

// Answers one line for a client: appends the reply text to `reply` (nothing for a blank
// line). Set commands act only when allowSet. Returns 1 when the client asked to close the
// connection, else 0.
int answerHamlibLine(Works* works, std::string_view line, bool allowSet, std::string& reply);
