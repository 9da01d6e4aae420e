#pragma once
// The line protocol of Hamlib's network amplifier daemon (ampctld), as its NET amplifier
// backend (model 2) speaks it: one command a line, short ("f", "l SWR") or long
// ("\get_freq"); a get answers its value lines, a set answers "RPRT 0", a failure
// "RPRT -<Hamlib error code>".
#include <string>
#include <string_view>

struct Works;

// Hamlib's error codes as the client reads them after "RPRT -".
constexpr int HAMLIB_EINVAL = 1;     // bad argument or unreadable line
constexpr int HAMLIB_ENIMPL = 4;     // command not implemented
constexpr int HAMLIB_ERJCTED = 9;    // refused: set commands are not allowed

// The longest command line taken (without its line end); a longer one is an error.
constexpr size_t HAMLIB_LINE_MAX = 256;

enum class HamlibCommand {
    Empty,        // blank line: no answer
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

// A command line split into the command and its arguments (at most two words kept).
struct HamlibRequest {
    HamlibCommand command = HamlibCommand::Empty;
    std::string_view arg1;
    std::string_view arg2;
};

// Splits one line (without its line end) into command and arguments. Pure: reads only the
// line, within its length.
HamlibRequest parseHamlibLine(std::string_view line);

// Answers one line for a client: appends the reply text to `reply` (nothing for a blank
// line). Set commands act only when allowSet. Returns 1 when the client asked to close the
// connection, else 0.
int answerHamlibLine(Works* works, std::string_view line, bool allowSet, std::string& reply);
