#include "config/antenna_table.h"

#include "amplifier/link.h"
#include "config/settings_lines.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/settings_file.h"
#include "tuner/tune_memory.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char MODEwork[3][8] = {"Generic", "KRPIXO", " FT-817"};
const char AttVectStr[5][8] = {"0", "2", "3", "5", "StBy"};

namespace {

constexpr size_t antennaLineLength = 512;

int rowOfLocked(const Works* works, uint32_t frequency);

struct DefaultBand {
    const char* name;
    int32_t start;
    int32_t stop;
};

constexpr DefaultBand defaultBands[ANT_ROWS] = {
    {"160m", 1800000, 2000000},   {"80m", 3500000, 4000000},   {"60m", 5330500, 5450000},
    {"40m", 7000000, 7300000},    {"30m", 10100000, 10150000}, {"20m", 14000000, 14350000},
    {"17m", 18068000, 18168000},  {"15m", 21000000, 21450000}, {"12m", 24890000, 24990000},
    {"10m", 28000000, 29700000},  {"6m", 50000000, 54000000},
};

// Header of the file for an interface mode.
const char* headerOf(int mode)
{
    return mode == 1 ? "!Ixo\n" : mode == 2 ? "!817\n" : "!Gen\n";
}

// Mode named by a header line ("!Gen", "!Ixo", "!817"); -1 for anything else.
int modeOfHeader(std::string_view line)
{
    if (line.size() < 4)
        return -1;
    const std::string_view name = line.substr(1, 3);
    if (name == "Gen")
        return 0;
    if (name == "Ixo")
        return 1;
    if (name == "817")
        return 2;
    return -1;
}

// Reads the next number of a line into value when it lies in lo .. hi; a missing number
// reads as 0 (the field keeps its empty value).
bool nextField(const char*& p, int base, long lo, long hi, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = strtol(p, &end, base);
    if (end == p) {
        value = 0;
        return true;
    }
    p = end;
    return errno != ERANGE && value >= lo && value <= hi;
}

// One data line: band name up to the first blank (at most 7 characters), the band edges
// (decimal, or hexadecimal with 0x), four byte fields and the power value. False when a
// field is out of its range: an antenna output or attenuator step that does not exist, a
// switch other than 0 or 1, a band edge outside 0 .. 2^31-1, a power that is no number.
bool parseRow(std::string_view line, AntennaRow& row)
{
    row = AntennaRow{};
    const size_t blank = line.find(' ');
    const std::string_view name = line.substr(0, blank);
    const size_t nameLength = name.size() < sizeof row.band - 1 ? name.size() : sizeof row.band - 1;
    memcpy(row.band, name.data(), nameLength);
    row.band[nameLength] = '\0';
    if (blank == std::string_view::npos)
        return true;
    const std::string rest(line.substr(blank));
    const char* p = rest.c_str();
    long edges[2] = {};
    for (long& edge : edges)
        if (!nextField(p, 0, 0, INT32_MAX, edge))
            return false;
    row.freqStart = static_cast<int32_t>(edges[0]);
    row.freqStop = static_cast<int32_t>(edges[1]);
    struct ByteField {
        uint8_t* field;
        long max;
    };
    const ByteField bytes[4] = {{&row.ampEnable, 1}, {&row.ant, 3}, {&row.atuBypass, 1}, {&row.att, ROW_ATTENUATOR_MAX}};
    for (const ByteField& b : bytes) {
        long value = 0;
        if (!nextField(p, 10, 0, b.max, value))
            return false;
        *b.field = static_cast<uint8_t>(value);
    }
    char* end = nullptr;
    const float pwr = strtof(p, &end);
    row.pwr = end == p ? 0.0f : pwr;
    return std::isfinite(row.pwr);
}

} // namespace

std::string antennaFileName(int bank)
{
    if (bank < 1 || bank > 19)
        return "/opt/set/antenna.txt";
    char name[48];
    snprintf(name, sizeof name, "/opt/set/antenna_b%d.txt", bank);
    return name;
}

void InitTabAntenna(Works* works, int mode)
{
    std::lock_guard<std::mutex> lock(works->antennaTableMutex);
    for (int i = 0; i < ANT_ROWS; ++i) {
        AntennaRow& row = works->antennaTable[i];
        snprintf(row.band, sizeof row.band, "%s", defaultBands[i].name);
        row.freqStart = defaultBands[i].start;
        row.freqStop = defaultBands[i].stop;
        if (mode == 0) {
            row.ampEnable = 0;
            row.ant = 1;
            row.atuBypass = 1;
            row.att = 0;
            row.pwr = 0.0f;
        }
    }
    works->antennaRows = ANT_ROWS;
}

int LoadTabConfig(Works* works, int bank)
{
    AntennaRow parsed[ANT_ROWS] = {};
    int mode = 0;
    int rows = 0;
    const bool opened = forEachSettingsLine(antennaFileName(bank), antennaLineLength, [&](std::string_view line) {
        if (!line.empty() && line[0] == ';')
            return true;
        if (!line.empty() && line[0] == '!') {
            const int named = modeOfHeader(line);
            if (named >= 0)
                mode = named;
            return true;
        }
        if (rows >= ANT_ROWS)
            return false;
        AntennaRow row;
        if (!parseRow(line, row)) {
            logErr("LoadTabConfig: row out of range refused: %.*s\n", static_cast<int>(line.size()), line.data());
            return true;
        }
        parsed[rows++] = row;
        return true;
    });
    if (!opened) {
        InitTabAntenna(works, 0);
        return 0;
    }
    bool missingEdges = false;
    {
        // Rows past the file's keep their fields with the amplifier disabled.
        std::lock_guard<std::mutex> lock(works->antennaTableMutex);
        for (AntennaRow& row : works->antennaTable)
            row.ampEnable = 0;
        for (int i = 0; i < rows; ++i) {
            works->antennaTable[i] = parsed[i];
            missingEdges = missingEdges || parsed[i].freqStart == 0 || parsed[i].freqStop == 0;
        }
        works->antennaRows = rows;
    }
    if (missingEdges) {
        InitTabAntenna(works, 1);
        logErr("Error Reinit antenna\n");
    }
    works->antennaRowIdx = -1;
    return mode;
}

void SaveTabConfig(Works* works, int bank)
{
    std::string content = headerOf(works->interfaceMode);
    char line[96];
    const int rows = std::min<int>(works->antennaRows, ANT_ROWS);
    const std::array<AntennaRow, ANT_ROWS> table = antennaTableCopy(works);
    for (int i = 0; i < rows; ++i) {
        const AntennaRow& r = table[static_cast<size_t>(i)];
        snprintf(line, sizeof line, "%s %ld %ld %i %i %i %i %2.1f\n", r.band, static_cast<long>(r.freqStart),
                 static_cast<long>(r.freqStop), r.ampEnable, r.ant, r.atuBypass, r.att, static_cast<double>(r.pwr));
        content += line;
    }
    const std::string name = antennaFileName(bank);
    if (writeSettingsFile(name, content) == SETTINGS_OPEN_FAILED)
        logSys(LOG_ERR, "can't write antenna table %s", name.c_str());
}

std::array<AntennaRow, ANT_ROWS> antennaTableCopy(Works* works)
{
    std::array<AntennaRow, ANT_ROWS> copy;
    std::lock_guard<std::mutex> lock(works->antennaTableMutex);
    std::copy(std::begin(works->antennaTable), std::end(works->antennaTable), copy.begin());
    return copy;
}

int antennaRowOf(Works* works, uint32_t frequency)
{
    std::lock_guard<std::mutex> lock(works->antennaTableMutex);
    return rowOfLocked(works, frequency);
}

namespace {

int rowOfLocked(const Works* works, uint32_t frequency)
{
    const int rows = std::min<int>(works->antennaRows, ANT_ROWS);
    const auto f = static_cast<int64_t>(frequency);
    for (int i = 0; i < rows; ++i) {
        const AntennaRow& r = works->antennaTable[i];
        if (r.freqStart <= f && f <= r.freqStop)
            return i;
    }
    return -1;
}

} // namespace

void SaveToBank(Works* works, int bank, int antennaIdx)
{
    {
        std::lock_guard<std::mutex> lock(works->antennaTableMutex);
        const int i = rowOfLocked(works, works->frequency);
        if (i >= 0) {
            AntennaRow& r = works->antennaTable[i];
            r.ant = static_cast<uint8_t>(antennaIdx + 1);
            r.atuBypass = works->atuBypass;
            r.att = static_cast<uint8_t>(works->attenuator);
            r.ampEnable = works->attenuatorSel <= 3 ? 1 : 0;
        }
    }
    SaveTabConfig(works, bank);
}

void GestioneAntennaAutomatica(Works* works)
{
    works->antennaRowIdx = 100;
    AntennaRow r;
    int i = -1;
    {
        std::lock_guard<std::mutex> lock(works->antennaTableMutex);
        i = rowOfLocked(works, works->frequency);
        if (i >= 0)
            r = works->antennaTable[i];
    }
    if (i < 0)
        return;
    works->antennaRowIdx = i;
    if (r.ant != 0 && works->antenna != r.ant - 1) {
        works->antenna = r.ant - 1;
        IncPNTIn_CMDLinear(CMD_SET_ANTENNA, works);
    }
    if (r.atuBypass == 1) {
        IncPNTIn_CMDLinear(CMD_TUNE_BYPASS, works);
        logErr("TABLE CONFIG : BYPASS %i (%i)\n", r.atuBypass, i);
    } else {
        GestioneLoadTuneVal(works, 1);
    }
    if (r.ampEnable == 1) {
        if (works->ampBypass == 1)
            IncPNTIn_CMDLinear(CMD_AMP_IN_LINE, works);
        works->attenuatorSel = r.att;
        if (works->attenuator != r.att) {
            works->attenuator = r.att;
            IncPNTIn_CMDLinear(CMD_ATTENUATOR, works);
        }
    } else if (works->ampBypass == 0) {
        IncPNTIn_CMDLinear(CMD_AMP_BYPASS, works);
    }
}
