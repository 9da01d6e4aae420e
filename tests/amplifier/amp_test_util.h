#pragma once
// Helpers of the amplifier-control tests: a fresh works record as start-up leaves it, the
// command queue drained into a list, and replies handed to the decoder as the link does.
#include "amplifier/errors.h"
#include "amplifier/link.h"
#include "amplifier/replies.h"
#include "core/works.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

inline std::unique_ptr<Works> freshWorks(bool boardAnswered = true)
{
    auto works = std::make_unique<Works>();
    InitGlobalVar(works.get());
    InitErrorTable(works.get());
    if (boardAnswered)
        works->cpFlag = 0;
    return works;
}

inline std::vector<int> drainQueue(Works* works)
{
    std::vector<int> out;
    for (int n = takeQueuedCmd(works); n >= 0; n = takeQueuedCmd(works))
        out.push_back(n);
    return out;
}

// Hands a reply text (without CRC digits) to the decoder with the link's count.
inline void decode(Works* works, const std::string& text)
{
    DecodeCatCmd(works, text.c_str(), static_cast<int>(text.size()) + 2);
}

// A status reply with the given status digits, readings and status byte 2.
inline std::string statusReply(int b0, int b1, int in, int fwd, int refl, int cur, int t1, int t2, int b2,
                               int peak = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X00%04d;", b0, b1, in, fwd, refl, cur, t1,
                  t2, b2 & 0xF, (b2 >> 4) & 0xF, peak);
    return text;
}
