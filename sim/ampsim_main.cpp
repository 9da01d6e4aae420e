// ampsim: the simulated unit. Builds a root for AMPCTL_ROOT, serves the amplifier board on
// the pseudo-terminal behind <root>/dev/ttyAMA0 and, when asked, runs the controller on it.
// Ctrl-C (SIGINT) or SIGTERM stops the controller first (SIGTERM, then waiting for it) and
// then the models.
#include "antenna_loads.h"
#include "board_physics.h"
#include "control.h"
#include "job_settings.h"
#include "sim_unit.h"
#include "tuner_trace.h"
#include "tuning_session.h"
#include "web_panel.h"
#include "platform/clock.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

namespace {

void usage(FILE* out)
{
    std::fprintf(out,
                 "usage: ampsim --root DIR [--show-job] [--no-pace] [--run-ampctl PATH] [--pictures DIR] [--quiet] [--web PORT]\n"
                 "  --root DIR         build (or reuse) the simulated unit's root in DIR and serve it\n"
                 "  --show-job         settings that show the unit's job where the root has none of\n"
                 "                     its own (auto-tune on, amplifier and tuner in line, the\n"
                 "                     transceiver as frequency source: sim/job_settings.h), and\n"
                 "                     each antenna output its own antenna\n"
                 "  --no-pace          send the board's replies at once instead of at 115200 baud\n"
                 "  --run-ampctl PATH  start the controller PATH on the unit (AMPCTL_ROOT=DIR)\n"
                 "  --pictures DIR     the controller's working directory (default: pictures/ beside PATH)\n"
                 "  --quiet            keep the controller's stderr out of this terminal (it is\n"
                 "                     always in DIR/sim/ampctl.stderr)\n"
                 "  --web PORT         serve the front panel and bench controls to a browser on\n"
                 "                     http://127.0.0.1:PORT/ (0: any free port)\n"
                 "Ctrl-C stops the controller, then the simulator.\n");
}

std::string absolute(const std::string& path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string dirOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Takes <root>/sim/control when it is there (renamed first, so a writer never loses a
// line to us) and applies its commands to the board and the front panel.
void pollControlFile(sim::SimUnit& unit, const sim::ControlApplier& apply)
{
    const std::string path = unit.path("sim/control");
    const std::string taken = path + ".taken";
    if (::rename(path.c_str(), taken.c_str()) != 0)
        return;
    std::ifstream in(taken);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(taken.c_str());
    const std::string errors = apply(text.str());
    std::fprintf(stderr, "ampsim: control file applied%s%s", errors.empty() ? "\n" : "; errors:\n",
                 errors.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    std::string root, ampctl, pictures;
    bool pace = true, quiet = false, showJob = false;
    int webPort = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return false;
            out = argv[++i];
            return true;
        };
        if (a == "--root") {
            if (!value(root)) {
                usage(stderr);
                return 2;
            }
        } else if (a == "--run-ampctl") {
            if (!value(ampctl)) {
                usage(stderr);
                return 2;
            }
        } else if (a == "--pictures") {
            if (!value(pictures)) {
                usage(stderr);
                return 2;
            }
        } else if (a == "--web") {
            std::string port;
            char* end = nullptr;
            const long n = value(port) ? std::strtol(port.c_str(), &end, 10) : -1;
            if (!end || *end != '\0' || n < 0 || n > 65535) {
                usage(stderr);
                return 2;
            }
            webPort = static_cast<int>(n);
        } else if (a == "--show-job") {
            showJob = true;
        } else if (a == "--no-pace") {
            pace = false;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "ampsim: unknown argument '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (root.empty()) {
        usage(stderr);
        return 2;
    }

    // The signals are taken by sigtimedwait below; every thread started from here on
    // inherits the block (the controller's child process clears it).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // The board is physical: a resonant dipole behind the tuner (or, showing the job, an
    // antenna on each output), no drive until asked.
    sim::BoardPhysics physics;
    sim::TunerTrace tunerTrace;
    physics.setReflection(showJob ? sim::antennasThroughTuner() : sim::loadThroughTuner(sim::resonantDipole()));
    std::unique_ptr<sim::SimUnit> unit;
    try {
        sim::SimOptions opts;
        opts.pacing = pace;
        opts.keepWireLog = false;
        unit = std::make_unique<sim::SimUnit>(root, opts);
        if (showJob)
            sim::seedJobSettings(unit->root());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ampsim: cannot build the simulated unit in %s: %s\n", root.c_str(), e.what());
        return 1;
    }
    // Every status reply also goes to the tuner trace: the words the board was set to and the
    // SWR its model gave there.
    unit->board().state().setPhysics([&physics, &tunerTrace](const sim::BoardSettings& s, sim::StatusReadings& r) {
        physics.apply(s, r);
        const sim::PhysicsTruth t = physics.truth();
        tunerTrace.observe(s, t.forward, sim::truthSwr(t), monoSeconds());
    });
    // The maker's transceiver's carriers are the board's drive.
    unit->transceivers()->setDriveHook([&physics](double watts) { physics.setDrivePower(watts); });
    const std::string& r = unit->root();
    const std::string shot = sim::screenshotToolPath();
    std::printf("ampsim: simulated unit in %s\n", r.c_str());
    std::printf("  amplifier board  %s -> %s (%s)\n", unit->path("dev/ttyAMA0").c_str(),
                unit->boardPtyName().c_str(), pace ? "replies paced at 115200 baud" : "no pacing");
    std::printf("  wire log         %s  (\"<time> > frame\" host to board, \"<time> < frame\" board to host)\n",
                unit->wireLogPath().c_str());
    std::printf("  screen           %s (800 x 480, 32 bits a pixel)\n", unit->framebufferPath().c_str());
    std::printf("  screenshot       %s %s screen.png\n", shot.c_str(), unit->framebufferPath().c_str());
    std::printf("  stand-ins        %s/bin, their calls in %s/sim/commands.log\n", r.c_str(), r.c_str());
    std::printf("  board control    write commands to %s (see sim/control.h), e.g.\n"
                "                   echo 'fault silence count 4 command FM' > %s\n"
                "                   echo 'drive 5' > ...   (5 W of drive into a dipole behind the tuner)\n",
                unit->path("sim/control").c_str(), unit->path("sim/control").c_str());
    std::printf("  front panel      buttons 1..6 and the USB keyboard through the same file, e.g.\n"
                "                   echo 'press 6' > %s      (short press of button 6)\n"
                "                   echo 'hold 1 800' > ...   (button 1 held 0.8 s: a long press)\n"
                "                   echo 'button 3 down' > ... then 'button 3 up'\n"
                "                   echo 'key F12' > ...      (keyboard: F10, F11, F12, SYSRQ or a key code)\n",
                unit->path("sim/control").c_str());
    std::printf("  transceivers     %s: the maker's transceiver (or 'trx ft817'), %s: its CAT port\n"
                "                   echo 'trx freq 7100000' > ...   echo 'trx tx on' > ...   (see sim/transceiver_control.h)\n",
                unit->path("dev/ttyUSB1").c_str(), unit->path("dev/DODUVOV0").c_str());

    std::unique_ptr<sim::ControllerProcess> ctl;
    if (!ampctl.empty()) {
        sim::ControllerOptions co;
        co.binary = absolute(ampctl);
        co.root = r;
        co.workDir = absolute(pictures.empty() ? dirOf(co.binary) + "/pictures" : pictures);
        co.echoStderr = !quiet;
        try {
            ctl = std::make_unique<sim::ControllerProcess>(co);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ampsim: cannot start %s: %s\n", ampctl.c_str(), e.what());
            return 1;
        }
        std::printf("  controller       %s (pid %d) in %s, stderr also in %s\n", co.binary.c_str(),
                    static_cast<int>(ctl->pid()), co.workDir.c_str(), ctl->stderrPath().c_str());
    }

    // The control file and the web page change the unit through the same lines, one
    // text at a time.
    std::mutex controlMutex;
    const sim::ControlApplier apply = [&](std::string_view text) {
        std::lock_guard lock(controlMutex);
        const sim::ControlTargets targets{&unit->board(), &physics, unit->frontPanel(), unit->transceivers(),
                                          unit->soundCard(), &unit->usbReceiver()};
        return sim::applyControlText(targets, text);
    };
    std::unique_ptr<sim::WebPanel> web;
    if (webPort >= 0) {
        sim::WebPanelOptions wo;
        wo.port = webPort;
        wo.stderrPath = ctl ? ctl->stderrPath() : std::string();
        wo.apply = apply;
        wo.tuner = &tunerTrace;
        web = std::make_unique<sim::WebPanel>(*unit, &physics, wo);
        std::string error;
        if (!web->start(error)) {
            std::fprintf(stderr, "ampsim: web panel: %s\n", error.c_str());
            web.reset();
        } else {
            std::printf("  web panel        %s  (front panel, buttons, bench controls)\n", web->url().c_str());
        }
    }
    std::printf("Ctrl-C stops %s.\n", ctl ? "the controller, then the simulator" : "the simulator");
    std::fflush(stdout);

    int status = 0;
    for (;;) {
        timespec tick{0, 200 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig > 0) {
            std::fprintf(stderr, "\nampsim: %s received\n", strsignal(sig));
            break;
        }
        pollControlFile(*unit, apply);
        if (ctl && !ctl->running()) {
            ctl->waitStderrEnd(2.0);
            std::fprintf(stderr, "ampsim: the controller ended by itself (status %d)\n", ctl->exitStatus());
            status = ctl->exitStatus();
            ctl.reset();
            break;
        }
    }
    if (web)
        web->stop();
    if (ctl) {
        std::fprintf(stderr, "ampsim: stopping the controller (SIGTERM)\n");
        ctl->terminate();
        status = ctl->waitExit(30.0);
        ctl->waitStderrEnd(2.0);
        if (status < 0) {
            std::fprintf(stderr, "ampsim: the controller did not stop within 30 s: killed\n");
            ctl->kill();
            ctl->waitExit(5.0);
            status = 1;
        } else {
            std::fprintf(stderr, "ampsim: the controller stopped (status %d)\n", status);
        }
        ctl.reset();
    }
    unit->stop();
    std::fprintf(stderr, "ampsim: stopped\n");
    return status;
}
