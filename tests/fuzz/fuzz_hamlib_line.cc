// Fuzzes the Hamlib server's line protocol and its settings reader. The first byte chooses
// whether set commands are allowed; the rest is split into lines as the server splits
// them. Every answer is whole lines and every report a code the protocol uses; with set
// commands refused nothing is queued for the board; the settings always name a usable
// port (or none) and an IPv4 address.
#include "amplifier/link.h"
#include "fuzz_support.h"
#include "remote/hamlib_protocol.h"
#include "remote/hamlib_server.h"

#include <arpa/inet.h>
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
        if (code != "0" && code != "-1" && code != "-4" && code != "-9")
            fuzz::fail("unexpected report \"%s\"", code.c_str());
        at = reply.find("RPRT ", at + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::scratchRoot();
    if (size == 0)
        return 0;
    const bool allowSet = data[0] & 1;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    auto works = fuzz::freshWorks();
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::string reply;
        answerHamlibLine(works.get(), line, allowSet, reply);
        checkReply(reply, line);
        if (!allowSet && !cmdQueueEmpty(works.get()))
            fuzz::fail("a command was queued with set commands refused");
    }

    const HamlibSettings s = parseHamlibSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    in_addr probe{};
    if (s.port < 0 || s.port > 65535 || inet_pton(AF_INET, s.address.c_str(), &probe) != 1)
        fuzz::fail("settings with port %d, address \"%s\"", s.port, s.address.c_str());
    return 0;
}
