// The temperature log /opt/set/LOGtemp.txt: one record per line with the temperatures,
// power, SWR, supply voltage and current. Each write replaces the file atomically between
// the two remounts of the settings partition.
#include "amplifier/measurements.h"
#include "amplifier/thermal.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "platform/shell.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {
constexpr const char* TEMP_LOG_PATH = "/opt/set/LOGtemp.txt";
// The link thread (alarms) and the screen loop (periodic records) both append.
std::mutex tempLogMutex;

void currentDateTime(char* out, size_t size)
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    if (strftime(out, size, "%Y-%m-%d %H:%M:%S", &local) == 0)
        out[0] = '\0';
}
} // namespace

std::string tempLogRecord(Works* works, const char* dateTime, bool alarm)
{
    char record[160];
    snprintf(record, sizeof record, "%s%s%04.01f,%04.01f,%02.01fW,%03.02f,%04.01fV,%04.01fA%s", dateTime,
             (works->statoAmp[1] & 1) ? " , 1," : " , 0,", works->temp1.load(), works->temp2.load(),
             works->pwrFwd.load(), works->swr.load(), CalvTensVadcAmp(works, works->supply[3]),
             currentAmperes(works->rawCurrent),
             alarm ? " -> protezione attiva\n" : "\n");
    return record;
}

int LogTempFunction(Works* works, int mode)
{
    std::lock_guard<std::mutex> lock(tempLogMutex);
    if (remountRw() != 0)
        return 0;
    if (mode == -1) {
        char command[64];
        snprintf(command, sizeof command, "rm %s", TEMP_LOG_PATH);
        runShell(command);
    } else {
        std::string content;
        if (!readWholeFile(TEMP_LOG_PATH, content))
            content = TEMP_LOG_HEADER;
        char dateTime[32];
        currentDateTime(dateTime, sizeof dateTime);
        content += tempLogRecord(works, dateTime, mode == 1);
        if (replaceFileAtomically(TEMP_LOG_PATH, content) != SETTINGS_WRITTEN)
            logErr("LogTempFunction: can't write %s\n", TEMP_LOG_PATH);
    }
    remountRo();
    return 0;
}
