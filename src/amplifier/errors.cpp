#include "amplifier/errors.h"

#include "core/setup.h"
#include "core/works.h"

#include <mutex>

void AddErrore(Works* works, int code)
{
    if (code < 0 || code >= ERROR_CODES)
        return;
    std::lock_guard<std::mutex> lock(works->errMutex);
    if (works->cpFlag & 1)
        return;
    for (int i = 0; i < works->errCount; i++)
        if (works->errList[i] == code)
            return;
    if (works->errCount < ERROR_CODES)
        works->errList[works->errCount++] = code;
}

void DeleteErrore(Works* works, int code)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    int kept = 0;
    for (int i = 0; i < works->errCount; i++)
        if (works->errList[i] != code)
            works->errList[kept++] = works->errList[i];
    works->errCount = kept;
}

int ExistError(Works* works, int code)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    for (int i = 0; i < works->errCount; i++)
        if (works->errList[i] == code)
            return 1;
    return 0;
}

void setErrorDetail(Works* works, int code, const char* detail)
{
    if (code < 0 || code >= ERROR_CODES)
        return;
    std::lock_guard<std::mutex> lock(works->errMutex);
    setSlot(works->errTable[code].detail, detail);
}

std::vector<int> errorListCopy(Works* works)
{
    std::lock_guard<std::mutex> lock(works->errMutex);
    return std::vector<int>(works->errList, works->errList + works->errCount);
}
