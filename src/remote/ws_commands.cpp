#include "remote/ws_commands.h"

#include "config/banks.h"
#include "core/setup.h"
#include "core/threads.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/shell.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr uint8_t TINY_REBOOT = 197;

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
    {"ZOLTFD",
     [](Works* w, std::string_view text) {
         // The number from the seventh character on (text is zero-terminated in wsCmd).
         w->divideSetting = std::atoi(std::string(text.substr(6)).c_str());
     }},
    {"ZOLTRB", [](Works* w, std::string_view) { reboot(w); }},
};

} // namespace

int dispStat(Works* works)
{
    const std::string_view text(works->wsCmd, strnlen(works->wsCmd, sizeof works->wsCmd));
    logErr("BUFFER Wsocket : %.*s\n", static_cast<int>(text.size()), text.data());
    for (const Command& c : commands) {
        if (text.starts_with(c.prefix)) {
            c.run(works, text);
            return 1;
        }
    }
    return 0;
}
