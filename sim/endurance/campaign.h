#pragma once
// The endurance campaign: the real controller on a simulated unit with every subsystem on,
// under seeded random faults, front-panel use and power cuts (SIGKILL, then a restart as
// the service manager does), with its invariants checked all along. See README.md,
// "Endurance campaign".
#include <string>

namespace endurance {

struct CampaignOptions {
    std::string ampctl;        // the controller binary
    std::string pictures;      // its working directory
    std::string outDir;        // summary.md, plot.png, the unit's root, the controller's log
    double duration = 600;     // seconds of faults and use: the controller's time up, its
                               // start-ups after power cuts not counted
    unsigned seed = 1;
    int kills = -1;            // SIGKILLs spread over the campaign (-1: one every 30 s)
    double slack = 1;          // multiplies every deadline that load can stretch
    bool logBoundFails = false; // a log over its bound fails the campaign (else it is reported)
    bool everyKind = false;    // faults first until every kind has been injected once; the
                               // campaign runs on (up to 3 x duration) until then
    bool quiet = false;
};

// Runs the campaign; writes <outDir>/summary.md and <outDir>/plot.png. Returns 0 when every
// invariant held, 1 at the first one broken (the summary says which), 2 when it could not
// start.
int runCampaign(const CampaignOptions& options);

} // namespace endurance
