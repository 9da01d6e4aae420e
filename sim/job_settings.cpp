#include "job_settings.h"

#include "root_builder.h"

#include <cstdio>

namespace sim {

namespace {

struct JobBand {
    const char* name;
    long start;
    long stop;
    int output;
};

// The bands of the antenna table with the output whose antenna needs the least help there:
// the dipole is resonant on 40 m and close on 15 m, the vertical a quarter wave near 20 m
// and near enough on 17 m and 6 m; the end-fed wire takes the rest and needs the tuner
// everywhere but 80 m. 20 m goes to the end-fed on purpose: there it needs a search.
constexpr JobBand kBands[] = {
    {"160m", 1800000, 2000000, 3},   {"80m", 3500000, 4000000, 3},   {"60m", 5330500, 5450000, 3},
    {"40m", 7000000, 7300000, 1},    {"30m", 10100000, 10150000, 3}, {"20m", 14000000, 14350000, 3},
    {"17m", 18068000, 18168000, 2},  {"15m", 21000000, 21450000, 1}, {"12m", 24890000, 24990000, 3},
    {"10m", 28000000, 29700000, 3},  {"6m", 50000000, 54000000, 2},
};

} // namespace

int jobAntennaOutput(const std::string& band)
{
    for (const JobBand& b : kBands) {
        if (band == b.name)
            return b.output;
    }
    return 0;
}

std::string jobSetupText()
{
    return "AutoTuneMode: 1\n"
           "SWRescAutoTune: 150\n"
           "AttenuatorTune: 3\n"
           "AutoTuneTipo: 2\n"
           "NumBanco: 1\n"
           "EnableFFT: 1\n";
}

std::string jobAntennaTableText()
{
    std::string text = "!Ixo\n";
    for (const JobBand& b : kBands) {
        char line[96];
        // band, edges, amplifier in line, antenna output, tuner in use, no attenuator, power
        std::snprintf(line, sizeof line, "%s %ld %ld 1 %d 0 0 0.0\n", b.name, b.start, b.stop, b.output);
        text += line;
    }
    return text;
}

std::string jobFanTableText()
{
    return "; heat sink or board temperature (degrees Celsius), fan speed (per cent)\n"
           "0 0\n"
           "40 30\n"
           "50 60\n"
           "55 100\n";
}

void seedJobSettings(const std::string& root)
{
    writeFileIfMissing(rootPath(root, "opt/set/setup.txt"), jobSetupText());
    writeFileIfMissing(rootPath(root, "opt/set/antenna_b1.txt"), jobAntennaTableText());
    writeFileIfMissing(rootPath(root, "opt/set/ventola.txt"), jobFanTableText());
}

} // namespace sim
