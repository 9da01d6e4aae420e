// Fuzzes both command sets of the Hamlib server and its settings reader. The first byte
// chooses whether set commands are allowed; the rest is split into ampctld lines, and
// again into KPA1500 commands, as the server splits them. Every ampctld answer is whole
// lines and every report a code the protocol uses; every KPA1500 answer is the wake-up or
// one "^XX<digits>;" reply, and nothing is answered to what is not a command; with set
// commands refused nothing is queued for the board and no band change is asked; the
// settings always name usable ports (or none), an idle limit and an IPv4 address.
#include "amplifier/link.h"
#include "core/threads.h"
#include "fuzz_support.h"
#include "remote/hamlib_protocol.h"
#include "remote/hamlib_server.h"
#include "remote/kpa_protocol.h"

#include <arpa/inet.h>
#include <cctype>
#include <string>
#include <string_view>

namespace {

void checkReply(const std::string& reply, std::string_view line)
{
    if (!reply.empty() && reply.back() != '\n')
        fuzz::fail("reply to \"%.*s\" does not end its line", static_cast<int>(line.size()), line.data());
    size_t at = reply.find("RPRT ");
    while (at != std::string::npos) {
        const std::string code = reply.substr(at + 5, reply.find('\n', at) - at - 5);
        if (code != "0" && code != "-1" && code != "-4" && code != "-9" && code != "-11")
            fuzz::fail("unexpected report \"%s\"", code.c_str());
        at = reply.find("RPRT ", at + 1);
    }
}

void checkKpaReply(const std::string& reply, KpaOutcome outcome, std::string_view command)
{
    if (outcome != KpaOutcome::Answered && !reply.empty())
        fuzz::fail("\"%.*s\" not a command but answered", static_cast<int>(command.size()), command.data());
    if (reply.empty() || reply == ";")
        return;
    bool form = reply.size() >= 4 && reply[0] == '^' && reply.back() == ';' && std::isupper(reply[1]) &&
                std::isupper(reply[2]);
    size_t digits = 0;
    for (size_t i = 3; form && i + 1 < reply.size(); i++) {
        if (std::isdigit(static_cast<unsigned char>(reply[i])))
            digits++;
        else if (digits > 0 || !std::isupper(static_cast<unsigned char>(reply[i])))
            form = false;
    }
    if (!form || digits == 0)
        fuzz::fail("reply \"%s\" is not one ^XX<digits>; reply", reply.c_str());
}

bool nothingAsked(Works* works)
{
    return cmdQueueEmpty(works) && works->frequencyAsked == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::scratchRoot();
    if (size == 0)
        return 0;
    const bool allowSet = data[0] & 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    // The band change is handed to the screen loop: let a set find it running.
    thrTime.valid = true;

    auto works = fuzz::freshWorks();
    for (std::string_view text = input; !text.empty();) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::string reply;
        answerHamlibLine(works.get(), line, allowSet, reply);
        checkReply(reply, line);
        if (!allowSet && !nothingAsked(works.get()))
            fuzz::fail("a set was made with set commands refused");
    }
    for (std::string_view text = input; !text.empty();) {
        const size_t end = text.find(';');
        const std::string_view command = text.substr(0, std::min(end, HAMLIB_LINE_MAX));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::string reply;
        checkKpaReply(reply, answerKpaCommand(works.get(), command, allowSet, reply), command);
        if (!allowSet && !nothingAsked(works.get()))
            fuzz::fail("a KPA1500 write was made with set commands refused");
    }
    thrTime.valid = false;

    const HamlibSettings s = parseHamlibSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    in_addr probe{};
    if (s.port < 0 || s.port > 65535 || s.kpaPort < 0 || s.kpaPort > 65535 || (s.port != 0 && s.port == s.kpaPort) ||
        s.idleSeconds < 1 || inet_pton(AF_INET, s.address.c_str(), &probe) != 1)
        fuzz::fail("settings with ports %d and %d, idle %d s, address \"%s\"", s.port, s.kpaPort, s.idleSeconds,
                   s.address.c_str());
    return 0;
}
