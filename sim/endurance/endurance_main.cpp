// endurance: the endurance campaign runner (see README.md, "Endurance campaign").
#include "campaign.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void usage(FILE* out)
{
    std::fprintf(out,
                 "usage: endurance --ampctl PATH [--pictures DIR] [--out DIR] [--duration SECONDS] [--seed N]\n"
                 "                 [--kills N] [--slack X] [--log-bound-fails] [--every-kind] [--quiet]\n"
                 "  --ampctl PATH      the controller to run (its build's pictures/ beside it by default)\n"
                 "  --out DIR          summary.md, plot.png, ampctl.log and the unit's root (default endurance-out)\n"
                 "  --duration S       seconds of faults, panel use and power cuts (default 600)\n"
                 "  --seed N           the random sequence (default 1)\n"
                 "  --kills N          SIGKILLs and restarts over the campaign (default one each 30 s)\n"
                 "  --slack X          multiplies the deadlines that load can stretch (default 1)\n"
                 "  --log-bound-fails  a log over 1 line/s steady or 10/s under faults fails the campaign\n"
                 "  --every-kind       faults first until each kind was injected once (runs on until then)\n"
                 "  --quiet            print only the verdict\n");
}

std::string absolute(const std::string& path)
{
    return std::filesystem::weakly_canonical(path).string();
}

} // namespace

int main(int argc, char** argv)
{
    endurance::CampaignOptions o;
    o.outDir = "endurance-out";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&](double& out) {
            if (!hasValue)
                return false;
            char* end = nullptr;
            out = std::strtod(argv[++i], &end);
            return end && *end == '\0';
        };
        double v = 0;
        if (a == "--ampctl" && hasValue) {
            o.ampctl = absolute(argv[++i]);
        } else if (a == "--pictures" && hasValue) {
            o.pictures = absolute(argv[++i]);
        } else if (a == "--out" && hasValue) {
            o.outDir = argv[++i];
        } else if (a == "--duration" && number(v) && v > 0) {
            o.duration = v;
        } else if (a == "--seed" && number(v) && v >= 0) {
            o.seed = static_cast<unsigned>(v);
        } else if (a == "--kills" && number(v) && v >= 0) {
            o.kills = static_cast<int>(v);
        } else if (a == "--slack" && number(v) && v >= 1) {
            o.slack = v;
        } else if (a == "--log-bound-fails") {
            o.logBoundFails = true;
        } else if (a == "--every-kind") {
            o.everyKind = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "endurance: bad argument '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (o.ampctl.empty()) {
        usage(stderr);
        return 2;
    }
    if (o.pictures.empty())
        o.pictures = o.ampctl.substr(0, o.ampctl.rfind('/') + 1) + "pictures";
    std::filesystem::create_directories(o.outDir);
    o.outDir = absolute(o.outDir);
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return endurance::runCampaign(o);
}
