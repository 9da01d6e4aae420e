#pragma once
// What a controller started on a fresh simulated root sends and prints: the board's
// initialisation commands, each after a status poll, and the lines of its orderly shutdown
// in their order. Shared by the start-up tests of the build machine's controller and of the
// armhf controller run under qemu-user.
#include <string>
#include <vector>

// The host's command texts (CRC digits removed) from the first frame on, with no settings
// and no band table: each initialisation command follows a status poll, then the link
// settles into status and frequency polls.
inline std::vector<std::string> freshStartTexts()
{
    const std::vector<std::string> init = {"VSM;", "ER0000;", "ER0001;", "ER0002;", "MP0;",
                                           // default thresholds: no band table
                                           "TS4095409515003700;", "FN1100;", "AN0;", "SA1;",
                                           "FS00001;", "MT100000000;", "PS0001100000000000;", "GM00020100;", "GS;",
                                           "CPFFFF;", "MR0;",
                                           // bank 1 loaded: interface mode 0 told to the board
                                           "GS0200000000;", "FM;", "FM;"};
    std::vector<std::string> expected;
    for (const auto& t : init) {
        expected.push_back("ST;");
        expected.push_back(t);
    }
    return expected;
}

// The standard error lines of an orderly shutdown in interface mode 0 (no transceiver link
// runs, so none is joined), in the order they must appear.
inline std::vector<std::string> shutdownLines()
{
    return {"Close..\n", "Radezevuvedo operations end", "joined Key end", "joined Wsocket end",
            "joined Linear end", "joined Time end", "joined GPIO end", "Closed!\n"};
}

// Positions of lines in text, in the order given; -1 for a missing one.
inline std::vector<long> positions(const std::string& text, const std::vector<std::string>& lines)
{
    std::vector<long> out;
    for (const auto& l : lines) {
        size_t p = text.find(l);
        out.push_back(p == std::string::npos ? -1 : static_cast<long>(p));
    }
    return out;
}
