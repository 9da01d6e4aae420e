#include "amplifier/errors.h"

#include "core/setup.h"
#include "platform/log.h"

#include <algorithm>
#include <mutex>

const ErrorDescriptor errorTableData[ERROR_CODES] = {
    {2, "1-High", "temperature"},
    {3, "HI SWR", "error"},
    {1, "1-High", "temperature"},
    {3, "PWR IN", "error"},
    {4, "Comm", "warn "},
    {4, "Remote warn", "Usb"},
    {4, "Audio", "not found"},
    {4, "IXO mode", "not activated"},
    {4, "IXO EXTIO", "warning"},
    {0, "Audio read", "warning"},
    {0, "Audio write", "warning"},
    {0, "Web socket", "warning"},
    {4, "Auto Tune", "timeout"},
    {4, "Auto Tune", "SWR warning"},
    {4, "Auto Tune", "IXO aborts"},
    {3, "Error", "---"},
    {4, "Micro Reset", "warning"},
    {4, "CMD not", "available"},
    {4, "Auto Tune", "Max SWR"},
    {6, "Band warn", "StBy"},
    {4, "Remote warn", "Cat"},
    {2, "2-High", "temperature"},
    {1, "2-High", "temperature"},
    {2, "2-Warning", "temperature"},
    {2, "2-Warning", "temperature"},
};

namespace {

bool validCode(int code)
{
    return code >= 0 && code < ERROR_CODES;
}

// Place of a code in the list, -1 when absent. The caller holds errMutex.
int findLocked(const Works* works, int code)
{
    for (int i = 0; i < works->errCount; i++)
        if (works->errList[i] == code)
            return i;
    return -1;
}

void deleteAtLocked(Works* works, int place)
{
    for (int i = place; i + 1 < works->errCount; i++)
        works->errList[i] = works->errList[i + 1];
    works->errList[works->errCount - 1] = 0;
    works->errCount--;
}

// Removes every listed code whose descriptor has one of `flagMask` set (0: every code).
void removeMatchingLocked(Works* works, uint8_t flagMask)
{
    int i = 0;
    while (i < works->errCount) {
        int code = works->errList[i];
        bool match = flagMask == 0 || (validCode(code) && (works->errTable[code].flags & flagMask));
        if (!match) {
            i++;
            continue;
        }
        logErr("Del temp err: %i (%i , %i)\n", code, i, works->errCount);
        deleteAtLocked(works, i);
    }
}

} // namespace

void InitErrorTable(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    for (int code = 0; code < ERROR_CODES; code++)
        works->errTable[code] = errorTableData[code];
}

void AddErrore(Works* works, int code)
{
    if (!validCode(code))
        return;
    std::lock_guard<std::mutex> lock(works->errMutex);
    if (works->cpFlag & 1)
        return;
    if (findLocked(works, code) >= 0)
        return;
    works->errList[works->errCount++] = code;
    logErr("Add: N: %i err:%i\n", works->errCount, code);
    const uint8_t flags = works->errTable[code].flags;
    if ((flags & ERR_PROTECTION) && !(works->errFlags & 1)) {
        works->errFlags |= 1;
        logErr(" -->set protezione 0x%x\n", works->errFlags.load());
    }
    if ((flags & ERR_TEMPORARY) && !(works->errFlags & 4)) {
        works->errFlags |= 4;
        logErr(" -->tasto reset errore 0x%x\n", works->errFlags.load());
    }
}

bool claimErrorHold(Works* works, int32_t ms)
{
    int32_t idle = 0;
    return works->retryErrHold.compare_exchange_strong(idle, ms);
}

void countDownErrorHold(Works* works, int32_t elapsedMs)
{
    int32_t hold = works->retryErrHold.load();
    while (hold > 0 && !works->retryErrHold.compare_exchange_weak(hold, std::max<int32_t>(0, hold - elapsedMs))) {
    }
}

void DeleteErrore(Works* works, int code)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    int place = findLocked(works, code);
    if (place < 0)
        return;
    deleteAtLocked(works, place);
    logErr("Del ERROR: N: %i err:%i\n", works->errCount, code);
}

int ExistError(Works* works, int code)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    return findLocked(works, code) >= 0 ? 1 : 0;
}

int ExistAnError(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    return works->errCount > 0 ? works->errList[0] : -1;
}

void VerifyWarningTemporanei(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    removeMatchingLocked(works, ERR_TEMPORARY);
}

void VerifyWarningTemporaneiDopoResetBias(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    removeMatchingLocked(works, 0);
}

void setErrorDetail(Works* works, int code, const char* detail)
{
    if (!validCode(code))
        return;
    std::lock_guard<std::mutex> lock(works->errMutex);
    setSlot(works->errTable[code].detail, detail);
}

std::vector<int> errorListCopy(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    return std::vector<int>(works->errList, works->errList + works->errCount);
}

ErrorDescriptor errorDescriptor(Works* works, int code)
{
    if (!validCode(code))
        return {};
    std::lock_guard<std::mutex> lock(works->errMutex);
    return works->errTable[code];
}

void enableErrorList(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    works->cpFlag &= static_cast<uint8_t>(~1u);
}

uint8_t errorFlags(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    return works->errFlags;
}

void setErrorFlags(Works* works, uint8_t bits)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    works->errFlags |= bits;
}

void clearErrorFlags(Works* works, uint8_t bits)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    works->errFlags &= static_cast<uint8_t>(~bits);
}
