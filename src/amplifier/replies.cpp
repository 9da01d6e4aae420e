#include "amplifier/replies.h"

#include "amplifier/link.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <cstring>

namespace {

// Keywords the board answers with; anything else is not recognised.
const char* const knownKeywords[] = {"VS", "TU", "SA", "FM", "FA", "FS", "MT", "AT", "MP", "TS", "CP", "AB",
                                     "AN", "FN", "PS", "SF", "SE", "GM", "GS", "MR", "ER", "ST"};

bool isKnownKeyword(const char* reply)
{
    for (const char* k : knownKeywords)
        if (reply[0] == k[0] && reply[1] == k[1])
            return true;
    return false;
}

// After a status reply the next command depends on the tuning state.
void nextAfterStatus(Works* works)
{
    switch (works->tuneStatus) {
    case 0: {
        int number = takeQueuedCmd(works);
        linearProcessStatus = number >= 0 ? number : 8;
        break;
    }
    case 1:
        linearProcessStatus = 11;
        break;
    case 2:
        linearProcessStatus = 13;
        works->tuneStatus = 1;
        break;
    case 3:
        linearProcessStatus = 1;
        works->tuneStatus = 1;
        break;
    default:
        linearProcessStatus = 1;
        break;
    }
    sleepMs(10);
}

} // namespace

void DecodeCatCmd(Works* works, const char* reply, int count)
{
    if (count < 3)
        return;
    const int length = count - 2;  // characters of the reply text
    if (length >= 3 && (reply[2] == '?' || reply[2] == '!' || reply[2] == '&')) {
        logErr("---------------------------------------CMD Errato:%s\n", reply);
        GestRetrayCMD(works);
        sleepMs(20);
        return;
    }
    if (length < 3 || !isKnownKeyword(reply)) {
        logErr("---------------------------------------cmd non riconosciuto:%s\n", reply);
        GestRetrayCMD(works);
        sleepMs(20);
        return;
    }
    if (reply[0] == 'S' && reply[1] == 'T') {
        nextAfterStatus(works);
        return;
    }
    if (reply[0] == 'C' && reply[1] == 'P')
        works->cpFlag &= static_cast<uint8_t>(~1u);
    NextCmdPriority(works, 1);
    sleepMs(20);
}
