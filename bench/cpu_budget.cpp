// The controller's processor budget, counted rather than timed: the real ampctl on the
// simulated unit in four steady scenarios, each run twice.
//
//   1 main   main view, the amplifier link polling, no drive
//   2 drive  main view with a drive that rises and falls, so both needles and the peak
//            hold move
//   3 trx    the 160 kHz spectrum view, the maker's transceiver streaming at its nominal
//            rate (10 parameter frames and 10 spectrum lines a second)
//   4 all    a remote peer connected (a second unit as client), Opus audio both ways and
//            the USB receiver's spectrum
//
// Run A, under valgrind's callgrind: counters zeroed once the scenario has settled and
// dumped after the window: instructions of the process (every thread, not the kernel and
// not the programs it starts) and the screen frames it drew meanwhile (calls of
// timerFrame). Under valgrind the controller runs tens of times slower than natively, and
// on a loaded machine slower still: it draws fewer frames a second than the unit's 60 ms
// period allows. So the screen loop's work is taken per frame (the instructions of its
// thread over the frames drawn), which does not depend on the load, and given per
// second at the unit's nominal frame rate (kNominalFrames: one frame every 60 ms plus about
// 1 ms of drawing); the other threads' work is paced by the simulated devices (link
// replies, audio periods, USB transfers) and is taken per second as counted. The
// simulated USB receiver's sample generation, which runs in the controller's process
// inside the libusb stand-in, is left out of the count (--toggle-collect; --collect-atstart=yes
// after it, or valgrind collects nothing outside the toggled function).
// Run B, native under strace (execve only, through seccomp, so the process runs at full
// speed): processes the controller started per second (every execve of a descendant in
// the window) and its share of one core here from /proc (the process and the children
// it reaped: utime + stime + cutime + cstime).
//
// Raspberry Pi 3 estimate: a Cortex-A53 core at 1.2 GHz, in order, dual issue, sustains
// about 0.7 instructions a cycle on this kind of code (copies, branches, little floating
// point), and the armhf build executes about 1.3 times the instructions of x86-64 for the
// same work: one Pi 3 core does about 1.2e9 x 0.7 / 1.3 = 650 million of the instructions
// counted here per second.
//
//   build-rel/cpu_budget [--ampctl PATH] [--window S] [--settle S] [--scenario N]... [--keep DIR]
// (--keep: each scenario's dump of its window is kept there, for callgrind_annotate, and its
// native run's execve trace, which names the processes it started).
#include "board_physics.h"
#include "controller_process.h"
#include "loopback_port.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "proc_stat.h"
#include "sim_unit.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr double kPiCoreInstructionsPerSecond = 1.2e9 * 0.7 / 1.3;
constexpr double kNominalFrames = 1 / 0.061;

struct Options {
    std::string ampctl = AMPCTL_BIN;
    std::string pictures = AMPCTL_BUILD_DIR "/pictures";
    double window = 20;
    double settle = 15;
    std::vector<int> scenarios;
    std::string keep;  // a directory that keeps each scenario's callgrind dump of its window
};

struct Result {
    double framesPerSecondCounted = 0;  // under valgrind
    double instructionsPerFrame = 0;    // the screen loop thread's, frame by frame
    double otherPerSecond = 0;          // every other thread's, as counted
    double instructionsPerSecond = 0;   // the two together, at the nominal frame rate
    double countedPerSecond = 0;        // as counted under valgrind
    double processesPerSecond = 0;
    double corePercent = 0;
};

double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string unitDir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("ampctl-budget-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "opt/set");
    return dir.string();
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

// The first child of a process (the controller under strace).
pid_t childOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = -1;
    in >> child;
    return child;
}

// One scenario: prepares the unit's settings before the start, acts on the running unit
// once the controller's screen loop runs, and keeps whatever it needs alive meanwhile.
struct Scenario {
    int number;
    const char* name;
    std::function<void(sim::SimUnit&)> prepare;
    std::function<void(sim::SimUnit&)> started;
};

// A second unit with its controller (native), the client of the measured one.
struct Peer {
    std::unique_ptr<sim::SimUnit> unit;
    std::unique_ptr<sim::ControllerProcess> ctl;
};

class Runner {
public:
    explicit Runner(Options o) : o_(std::move(o)) {}

    Result measure(const Scenario& s)
    {
        Result r;
        counted(s, r);
        native(s, r);
        return r;
    }

private:
    // Starts the scenario: unit, settings, controller through the given wrapper; waits
    // until it draws, applies the scenario and lets it settle. nullptr when it never started.
    std::unique_ptr<sim::ControllerProcess> start(const Scenario& s, sim::SimUnit& unit,
                                                  const std::string& wrapper,
                                                  std::vector<std::string> wrapperArgs)
    {
        s.prepare(unit);
        sim::ControllerOptions co;
        co.binary = wrapper;
        co.args = std::move(wrapperArgs);
        co.args.push_back(o_.ampctl);
        co.root = unit.root();
        co.workDir = o_.pictures;
        auto ctl = std::make_unique<sim::ControllerProcess>(co);
        if (!ctl->waitForStderr("Timer thread started", 300)) {
            std::fprintf(stderr, "scenario %d: the controller did not start\n", s.number);
            return nullptr;
        }
        // The start-up's one-shot work is over before the scenario begins: the loading
        // countdown, and the firmware marker removed 30 s after the start (a remount, rm and
        // remount: three processes that are no part of the steady state).
        if (!ctl->waitForStderr("END THREAD AGG FW", 120))
            std::fprintf(stderr, "scenario %d: the start-up's firmware marker step did not end\n", s.number);
        s.started(unit);
        sleepSeconds(o_.settle);
        return ctl;
    }

    static void sleepSeconds(double s) { usleep(static_cast<useconds_t>(s * 1e6)); }

    void counted(const Scenario& s, Result& r)
    {
        const std::string dir = unitDir(std::string(s.name) + "-cg");
        sim::SimUnit unit(dir);
        const std::string out = dir + "/sim/callgrind.out";
        // The simulated USB receiver makes its samples inside the controller's process (the
        // libusb stand-in); on the unit the receiver's hardware does: not counted.
        auto ctl = start(s, unit, "/usr/bin/valgrind",
                         {"--tool=callgrind", "--callgrind-out-file=" + out, "--dump-instr=no", "-q",
                          "--toggle-collect=sim::IqSignal::fill*", "--collect-atstart=yes", "--separate-threads=yes"});
        if (ctl) {
            const std::string pid = std::to_string(ctl->pid());
            runShell("callgrind_control -z " + pid + " >/dev/null 2>&1");
            const double t0 = monoSeconds();
            sleepSeconds(o_.window);
            runShell("callgrind_control --dump=window " + pid + " >/dev/null 2>&1");
            const double seconds = monoSeconds() - t0;
            const Dump d = readDump(dir + "/sim", keptDump(s));
            r.framesPerSecondCounted = static_cast<double>(d.frames) / seconds;
            r.countedPerSecond = static_cast<double>(d.instructions) / seconds;
            r.otherPerSecond = static_cast<double>(d.instructions - d.frameInstructions) / seconds;
            if (d.frames > 0) {
                r.instructionsPerFrame = static_cast<double>(d.frameInstructions) / static_cast<double>(d.frames);
                r.instructionsPerSecond = r.instructionsPerFrame * kNominalFrames + r.otherPerSecond;
            }
            ctl->terminate();
            ctl->waitExit(120);
        }
        stopPeer();
        unit.stop();
        fs::remove_all(dir);
    }

    std::string keptDump(const Scenario& s) const
    {
        return o_.keep.empty() ? "" : o_.keep + "/callgrind." + std::to_string(s.number) + "-" + s.name;
    }

    struct Dump {
        long long instructions = 0;
        long long frames = 0;
        long long frameInstructions = 0; // the screen loop's thread
    };

    // The window's dump, one file a thread (callgrind.out.<n>-<thread> beside the final
    // ones): each file's "totals:" line, and in the screen loop's thread the calls of
    // timerFrame (a "calls=" line follows the "cfn=" line of its callee; names are given
    // once, with their number, and by number after that). Everything that thread does is
    // paced by its frames.
    static Dump readDump(const std::string& dir, const std::string& keep)
    {
        Dump d;
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("callgrind.out.", 0) != 0)
                continue;
            if (!keep.empty())
                fs::copy_file(e.path(), keep + name.substr(name.find('-')), fs::copy_options::overwrite_existing);
            std::ifstream in(e.path());
            std::string line, frameFn;
            bool frameCallee = false;
            long long total = 0, frames = 0;
            while (std::getline(in, line)) {
                if (line.rfind("totals:", 0) == 0 || line.rfind("summary:", 0) == 0)
                    total = std::max(total, std::stoll(line.substr(line.find(':') + 1)));
                const bool fn = line.rfind("fn=(", 0) == 0, cfn = line.rfind("cfn=(", 0) == 0;
                if (fn || cfn) {
                    const std::string rest = line.substr(line.find('('));
                    const std::string id = rest.substr(0, rest.find(')') + 1);
                    if (frameFn.empty() && rest.find(" timerFrame(") != std::string::npos)
                        frameFn = id;
                    frameCallee = cfn && id == frameFn;
                } else if (frameCallee && line.rfind("calls=", 0) == 0) {
                    frames += std::stoll(line.substr(6));
                    frameCallee = false;
                }
            }
            d.instructions += total;
            if (frames > 0) {
                d.frames += frames;
                d.frameInstructions += total;
            }
        }
        return d;
    }

    void native(const Scenario& s, Result& r)
    {
        const std::string dir = unitDir(std::string(s.name) + "-st");
        sim::SimUnit unit(dir);
        const std::string trace = dir + "/sim/execve.trace";
        auto ctl = start(s, unit, "/usr/bin/strace",
                         {"-f", "-qq", "--seccomp-bpf", "-ttt", "-e", "trace=execve", "-e", "signal=none",
                          "-o", trace});
        if (ctl) {
            const pid_t controller = childOf(ctl->pid());
            const std::string stat = "/proc/" + std::to_string(controller) + "/stat";
            const double cpu0 = sim::procCpuSeconds(stat, true);
            const double w0 = wallSeconds();
            const double t0 = monoSeconds();
            sleepSeconds(o_.window);
            const double cpu1 = sim::procCpuSeconds(stat, true);
            const double w1 = wallSeconds();
            const double seconds = monoSeconds() - t0;
            r.corePercent = (cpu1 - cpu0) / seconds * 100;
            r.processesPerSecond = static_cast<double>(processesStarted(trace, controller, w0, w1)) / seconds;
            // The controller itself is stopped: strace, on a signal, would leave it running.
            if (controller > 0)
                ::kill(controller, SIGTERM);
            ctl->waitExit(60);
        }
        stopPeer();
        unit.stop();
        if (!o_.keep.empty() && fs::exists(trace))
            fs::copy_file(trace, o_.keep + "/execve." + std::to_string(s.number) + "-" + s.name,
                          fs::copy_options::overwrite_existing);
        fs::remove_all(dir);
    }

    // Descendants of the controller that ran execve between the two wall times.
    static size_t processesStarted(const std::string& trace, pid_t controller, double from, double to)
    {
        std::ifstream in(trace);
        std::string line;
        std::set<long> pids;
        while (std::getline(in, line)) {
            std::istringstream l(line);
            long pid = 0;
            double at = 0;
            std::string call;
            if (!(l >> pid >> at >> call) || call.rfind("execve(", 0) != 0)
                continue;
            if (pid != controller && at >= from && at <= to)
                pids.insert(pid);
        }
        return pids.size();
    }

    void stopPeer()
    {
        if (peer.ctl) {
            peer.ctl->terminate();
            peer.ctl->waitExit(30);
        }
        if (peer.unit) {
            peer.unit->stop();
            fs::remove_all(peer.unit->root());
        }
        peer = Peer{};
    }

public:
    Peer peer;

private:
    Options o_;
};

// A drive that sweeps 5 W .. 40 W and back every 1.6 s, as speech does on SSB.
class DriveSweep {
public:
    void start(sim::SimUnit& unit)
    {
        stop();
        physics_ = std::make_unique<sim::BoardPhysics>();
        physics_->setLoadSwr(1.6);
        unit.board().state().setPhysics(physics_->hook());
        running_ = true;
        thread_ = std::thread([this] {
            for (int step = 0; running_; ++step) {
                const int phase = step % 16;
                physics_->setDrivePower(5 + 4.4 * (phase < 8 ? phase : 16 - phase));
                usleep(100000);
            }
        });
    }
    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }
    ~DriveSweep() { stop(); }

private:
    std::unique_ptr<sim::BoardPhysics> physics_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--ampctl")
            o.ampctl = next();
        else if (a == "--pictures")
            o.pictures = next();
        else if (a == "--window")
            o.window = std::stod(next());
        else if (a == "--settle")
            o.settle = std::stod(next());
        else if (a == "--scenario")
            o.scenarios.push_back(std::stoi(next()));
        else if (a == "--keep")
            o.keep = next();
        else {
            std::fprintf(stderr, "usage: %s [--ampctl PATH] [--pictures DIR] [--window S] [--settle S] [--scenario N]... [--keep DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (o.scenarios.empty())
        o.scenarios = {1, 2, 3, 4};

    Runner runner(o);
    DriveSweep drive;
    const std::string port = std::to_string(freePort());
    const std::string audio = "EnableRead: 1\nEnableWrite: 1\nAudioCompress: 64000\nAudioBuffers: 10\n";
    const std::vector<Scenario> all = {
        {1, "main", [](sim::SimUnit&) {}, [](sim::SimUnit&) {}},
        {2, "drive", [](sim::SimUnit&) {}, [&](sim::SimUnit& u) { drive.start(u); }},
        {3, "trx",
         [](sim::SimUnit& u) {
             u.transceivers()->setRates(10, 10);
             u.transceivers()->maker([](sim::MakerTransceiver& t) {
                 t.toneOn = true;
                 t.toneOffsetHz = 20000;
             });
             writeText(u.path("opt/set/antenna_b1.txt"), "!Ixo\n20m 14000000 14350000 1 1 0 0 0.0\n");
         },
         [](sim::SimUnit& u) {
             // Three presses of the view key: the 160 kHz spectrum view.
             for (int i = 0; i < 3; ++i) {
                 u.pressButton(6);
                 usleep(300000);
             }
         }},
        {4, "all",
         [&](sim::SimUnit& u) {
             writeText(u.path("opt/set/setup.txt"), "WebSocket: 1\nTcpPort: " + port + "\nEnableFFT: 1\n" + audio);
             u.soundCard()->setTone(1000, 8000);
         },
         [&](sim::SimUnit& u) {
             (void)u;
             Peer& p = runner.peer;
             p.unit = std::make_unique<sim::SimUnit>(unitDir("peer"));
             writeText(p.unit->path("opt/set/setup.txt"),
                       "WebSocket: 2\nServer: 127.0.0.1\nTcpPort: " + port + "\nEnableKeyb: 0\n" + audio);
             p.unit->soundCard()->setTone(700, 8000);
             p.ctl = std::make_unique<sim::ControllerProcess>(o.ampctl, p.unit->root(), o.pictures);
         }},
    };

    std::printf("controller: %s\nwindow %.0f s after %.0f s of settling; per second at %.1f frames/s; "
                "Pi 3 core = %.0f M counted instructions/s\n\n",
                o.ampctl.c_str(), o.window, o.settle, kNominalFrames, kPiCoreInstructionsPerSecond / 1e6);
    std::printf("%-9s %8s %10s %11s %10s %9s %8s %11s %9s\n", "scenario", "fps(vg)", "Mi/s(vg)", "Minstr/frm",
                "other Mi/s", "Minstr/s", "procs/s", "core% here", "Pi3 core%");
    for (const Scenario& s : all) {
        if (std::find(o.scenarios.begin(), o.scenarios.end(), s.number) == o.scenarios.end())
            continue;
        const Result r = runner.measure(s);
        drive.stop();
        std::printf("%d %-7s %8.2f %10.2f %11.3f %10.2f %9.2f %8.2f %11.2f %9.1f\n", s.number, s.name,
                    r.framesPerSecondCounted, r.countedPerSecond / 1e6, r.instructionsPerFrame / 1e6,
                    r.otherPerSecond / 1e6, r.instructionsPerSecond / 1e6, r.processesPerSecond, r.corePercent,
                    r.instructionsPerSecond / kPiCoreInstructionsPerSecond * 100);
        std::fflush(stdout);
    }
    return 0;
}
