#include "remote/ws_commands.h"

#include "config/banks.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <string_view>

namespace {

constexpr uint8_t TINY_REBOOT = 197;
// The largest spectrum divider: setup.txt keeps it in a slot of two digits.
constexpr int DIVIDE_MAX = 99;

void nextBank(Works* works)
{
    logErr("ChangeBanco\n");
    if (thrTime.valid)
        works->bankChangeAsked = 1;
    else
        ChangeBanco(works);
}

// The USB stream as the spectrum source, at the given sample rate switch; a divider of 1
// or less is raised to 2 for it.
void usbSpectrum(Works* works, char enable1600)
{
    setSetupSwitch(works->setup, &Orvosetup::fftMirror, '1');
    setSetupSwitch(works->setup, &Orvosetup::Enable1600, enable1600);
    if (works->divideSetting <= 1)
        works->divideSetting = 2;
}

// The spectrum divider from the seventh character on: a decimal number of 1 to DIVIDE_MAX
// (trailing blanks or a line end allowed). Anything else is refused with a log line and the
// divider stays: a negative, zero or overflowing value would be saved to setup.txt.
void setDivider(Works* works, std::string_view digits)
{
    while (!digits.empty() && std::isspace(static_cast<unsigned char>(digits.back())))
        digits.remove_suffix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value < 1 || value > DIVIDE_MAX) {
        logSys(LOG_ERR, "ZOLTFD%.*s refused: the divider is a number of 1 to %d, kept %d",
               static_cast<int>(std::min<size_t>(digits.size(), 20)), digits.data(), DIVIDE_MAX,
               works->divideSetting.load());
        return;
    }
    works->divideSetting = value;
}

void reboot(Works* works)
{
    postTinyCmd(works, TINY_REBOOT);
    sleepMs(4000);
    runShell("reboot");
}

struct Command {
    std::string_view prefix;
    void (*run)(Works* works, std::string_view text);
};

// Longer prefixes first where one begins another ("ZOLTFT0x" and "ZOLTFD").
const Command commands[] = {
    {"ZOLTBANK", [](Works* w, std::string_view) { nextBank(w); }},
    {"ZOLTPA1", [](Works* w, std::string_view) { nextBank(w); }},
    {"ZOLTTU2", [](Works*, std::string_view) {}},
    {"ZOLTFT00", [](Works* w, std::string_view) { setSetupSwitch(w->setup, &Orvosetup::fftMirror, '0'); }},
    {"ZOLTFT01", [](Works* w, std::string_view) { usbSpectrum(w, '0'); }},
    {"ZOLTFT02", [](Works* w, std::string_view) { usbSpectrum(w, '1'); }},
    {"ZOLTFD", [](Works* w, std::string_view text) { setDivider(w, text.substr(6)); }},
    {"ZOLTRB", [](Works* w, std::string_view) { reboot(w); }},
};

} // namespace

int dispStat(Works* works)
{
    const std::string_view text(works->wsCmd, strnlen(works->wsCmd, sizeof works->wsCmd));
    // A command is an event and always logged; the other texts are the peer's status frames,
    // one per screen frame of the peer, logged only as a debugging aid.
    const Command* command = nullptr;
    for (const Command& c : commands) {
        if (text.starts_with(c.prefix)) {
            command = &c;
            break;
        }
    }
    if (command || works->enableDebug)
        logErr("BUFFER Wsocket : %.*s\n", static_cast<int>(text.size()), text.data());
    if (!command)
        return 0;
    command->run(works, text);
    return 1;
}
