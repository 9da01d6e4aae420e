// The fan: its table (ventola.txt) and the decision of its speed from the temperatures.
#include "amplifier/link.h"
#include "amplifier/table_file.h"
#include "amplifier/thermal.h"
#include "core/works.h"
#include "platform/log.h"

#include <algorithm>

namespace {
constexpr const char* VENTOLA_PATH = "/opt/set/ventola.txt";
constexpr size_t VENTOLA_LINE_MAX = 255;

// Fan percent of the table for temperature t.
int tablePercent(const std::vector<VentolaRow>& rows, float t)
{
    if (rows.empty())
        return FAN_PERCENT_WITHOUT_TABLE;
    for (size_t i = 0; i + 1 < rows.size(); i++)
        if (rows[i].temperature <= t && t < rows[i + 1].temperature)
            return rows[i].percent;
    if (t >= rows.back().temperature)
        return rows.back().percent;
    return rows.front().percent;
}

// Queues a fan command; the decision waits (fanCmdPending) only when the command was taken.
bool queueFanCommand(Works* works, int number)
{
    return IncPNTIn_CMDLinear(number, works) >= 0;
}
} // namespace

void ReadVentolaFile(Works* works)
{
    works->ventolaRows.clear();
    works->ventolaRowCount = 0;
    std::vector<std::string> lines;
    if (!readTableLines(VENTOLA_PATH, VENTOLA_LINE_MAX, lines)) {
        logErr("Ventola File not FOUND!!");
        logSys(LOG_ERR, "can't open /opt/set/ventola.txt");
        return;
    }
    int count = 0;
    for (const std::string& line : lines)
        if (!isCommentLine(line))
            count++;
    logErr("N row Ventola File %d \n", count);
    logErr("Setup3 \n");
    for (const std::string& line : lines) {
        if (isCommentLine(line))
            continue;
        NumberCursor in(line);
        VentolaRow row;
        row.temperature = in.nextFloat();
        const float percent = in.nextFloat();
        row.percent = percent > 1000.0f || percent < -1000.0f ? 0 : static_cast<int32_t>(percent);
        works->ventolaRows.push_back(row);
        logErr("->t:%.02f: %d \n", row.temperature, row.percent);
    }
    works->ventolaRowCount = static_cast<int32_t>(works->ventolaRows.size());
}

float SearchTemperatureFromVentola(Works* works, int percent)
{
    for (const VentolaRow& row : works->ventolaRows)
        if (row.percent == percent)
            return row.temperature;
    return 0.0f;
}

void searchPercentVentola(Works* works)
{
    const float t = std::max(works->temp1, works->temp2);
    if (!works->startupDone || works->fanCmdPending == 1)
        return;
    works->fanPercent = tablePercent(works->ventolaRows, t);
    if (works->fanPercent != works->fanPercentOld) {
        const float u = SearchTemperatureFromVentola(works, works->fanPercentOld);
        if (works->fanPercent > works->fanPercentOld || t < u - static_cast<float>(works->isteresi2)) {
            if (queueFanCommand(works, 23)) {
                works->fanCmdPending = 1;
                works->fanPercentOld = works->fanPercent;
                if (works->fanPercentOld == 0)
                    works->fanPercentCPUOld = 0;
                logErr("--->1 VENTOLA: %d (%02.02f°C)\n", works->fanPercent.load(), t);
            }
        }
    }
    if (works->fanPercentOld == 0) {
        const float c = std::max(works->cpuTemp1, works->cpuTemp2);
        works->fanPercentCPU = c >= static_cast<float>(works->cpuTempVentola) ? works->cpuPercVentola.load() : 0;
        if (works->fanPercentCPU != works->fanPercentCPUOld
            && (works->fanPercentCPUOld < works->fanPercentCPU
                || c < static_cast<float>(works->cpuTempVentola - works->isteresi2))) {
            if (queueFanCommand(works, 41)) {
                works->fanPercentCPUOld = works->fanPercentCPU;
                logErr("--->2 VENTOLA CPU: %d (%02.02f°C)\n", works->fanPercentCPU.load(), c);
            }
        }
    }
}
