#include "campaign.h"

#include "controller_log.h"
#include "fault_table.h"
#include "panel_model.h"
#include "plot.h"
#include "process_stats.h"
#include "remote_peer.h"
#include "settings_check.h"

#include "antenna_loads.h"
#include "board_physics.h"
#include "control.h"
#include "controller_process.h"
#include "platform/clock.h"
#include "remote/hamlib_test_util.h"
#include "sim_unit.h"
#include "tuning_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace endurance {

namespace {

namespace fs = std::filesystem;

// The remote password of a unit at its defaults.
const std::string PASSWORD = "quintabrezza";

// The first broken invariant ends the campaign.
struct Broken : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A power cut (SIGKILL) came in the middle of an action: the action is abandoned.
struct Interrupted {};

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

enum class KillKind { AnyMoment, MenuSave, BankSave, TuneStore, SettingsKey };
const char* killName(KillKind k)
{
    switch (k) {
    case KillKind::AnyMoment: return "at a random moment";
    case KillKind::MenuSave: return "during a menu save";
    case KillKind::BankSave: return "during a bank save";
    case KillKind::TuneStore: return "during a tune store";
    case KillKind::SettingsKey: return "during a settings save (F11)";
    }
    return "";
}

struct KindStats {
    long injected = 0, recovered = 0, interrupted = 0;
    double longest = 0;
    std::set<int> raised; // error codes in the list after the fault
};

struct Sample {
    double t;
    ProcessStats stats;
    double cpuPercent;
    long faults;
};

class Campaign {
public:
    explicit Campaign(const CampaignOptions& o) : o_(o), rng_(o.seed) {}
    int run();

private:
    double now() const { return monoSeconds() - t0_; }
    // The campaign's own clock: the time the controller was up. Its start-ups (a 10-s
    // countdown and the subsystems' start, 20 s and more under a sanitizer) do not count,
    // so the power cuts and actions of a short campaign are not all start-ups.
    double upTime() const { return (ready_ ? now() : startBegin_) - startupSeconds_; }
    double deadline(double seconds) const { return seconds * o_.slack; }
    std::string control(const std::string& line);
    void setUp();
    void startController();
    void endController(bool kill);
    void restart(const std::string& why);
    void checkFiles(const std::string& when);
    void tick();
    void saveStacks();
    bool waitFor(const std::function<bool()>& pred, double seconds);
    void pause(double seconds) { waitFor([] { return false; }, seconds); }
    // Marks the log's next seconds as under faults and actions (3 s of settling after each).
    void busy() { busyUntil_ = std::max(busyUntil_, now() + 3); }

    // Front panel.
    int press(int key, int ms = sim::kShortPressMs, bool again = false);
    int pressOn(int key, int bar);
    void home();
    bool clearErrors();
    void menuEdit(bool killDuringSave);
    void panelKey(bool killDuringSave);
    void tuneStore(bool killDuringSave);
    void settingsKey(bool killDuringSave);

    void fault(const FaultKind& kind);
    void recover(const FaultKind& kind, double ended);
    void hamlibAsk();
    void nextAction();
    std::string report(const std::string& verdict);

    CampaignOptions o_;
    std::mt19937 rng_;
    double t0_ = 0;
    std::string root_;
    std::unique_ptr<sim::SimUnit> unit_;
    sim::BoardPhysics physics_;
    std::unique_ptr<sim::ControllerProcess> ctl_;
    std::unique_ptr<RemotePeer> peer_;
    ControllerLog log_;
    SetupModel setup_;
    size_t fed_ = 0;
    int wsPort_ = 0, hamlibPort_ = 0;
    int bar_ = 0, menuIdx_ = 0;
    double upSince_ = 0;
    bool ready_ = false; // started, and the peer served
    double startBegin_ = 0, startupSeconds_ = 0;
    bool inTick_ = false;

    std::vector<double> killTimes_;
    size_t nextKill_ = 0;
    std::map<std::string, long> kills_;
    std::vector<double> killMoments_;
    std::map<std::string, KindStats> stats_;
    long faultsInjected_ = 0, menuEdits_ = 0, panelPresses_ = 0, missedPresses_ = 0, errorKeyPresses_ = 0, filesChecked_ = 0,
         settingsChecks_ = 0, hamlibAnswers_ = 0, starts_ = 0;
    std::vector<Sample> samples_;
    double lastSample_ = -1, lastCpu_ = 0, lastHamlib_ = 0, longestFrameGap_ = 0;
    // Each second of the campaign: steady, busy (faults, actions) or a start-up (from the
    // controller's start until 3 s after it is ready), the worst state seen in it.
    enum SecondKind : char { STEADY, BUSY, STARTING };
    std::vector<char> busySeconds_;
    void markSecond(double t, char kind)
    {
        const size_t second = static_cast<size_t>(t);
        if (busySeconds_.size() <= second)
            busySeconds_.resize(second + 1, STEADY);
        busySeconds_[second] = std::max(busySeconds_[second], kind);
    }
    double busyUntil_ = 0, startingUntil_ = 0;
    std::optional<ProcessStats> baseline_, atMinute_;
    std::string faultActive_;
    std::string endLines_;
    std::vector<size_t> bag_;
    int peerLogins_ = 0;
    std::map<std::string, long> peerFrames_;
};

std::string Campaign::control(const std::string& line)
{
    const sim::ControlTargets targets{&unit_->board(), &physics_, unit_->frontPanel(), unit_->transceivers(),
                                      unit_->soundCard(), &unit_->usbReceiver()};
    const std::string error = sim::applyControlLine(targets, line);
    if (!error.empty())
        throw Broken("the simulated unit refused \"" + line + "\": " + error);
    return error;
}

void Campaign::setUp()
{
    root_ = o_.outDir + "/unit";
    fs::remove_all(root_);
    unit_ = std::make_unique<sim::SimUnit>(root_);
    physics_.setReflection(sim::loadThroughTuner(sim::resonantDipole()));
    unit_->board().state().setPhysics(physics_.hook());
    unit_->transceivers()->setDriveHook([this](double watts) { physics_.setDrivePower(watts); });
    control("trx maker");
    control("trx rate 10 10");
    control("audio tone 1000");
    wsPort_ = hamlibtest::freePort();
    hamlibPort_ = hamlibtest::freePort();
    const std::string set = unit_->path("opt/set/");
    fs::create_directories(set);
    // Every subsystem on: the maker's transceiver on the link (bank 1's interface line),
    // its CAT port, the USB receiver, the remote server with audio both ways (compressed:
    // raw blocks at the default Multiplier exceed the frame reader's limit), the keyboard,
    // the buttons and the screen loop, and the Hamlib port.
    writeText(set + "antenna_b1.txt", "!Ixo\n40m 7000000 7300000 1 1 0 0 0.0\n20m 14000000 14350000 1 1 0 0 0.0\n");
    writeText(set + "setup.txt", "WebSocket: 1\nTcpPort: " + std::to_string(wsPort_) +
                                     "\nEnableRead: 1\nEnableWrite: 1\nEnableCAT: 1\nEnableFFT: 1\nEnableKeyb: 1\n"
                                     "AudioCompress: 64000\n");
    writeText(set + "hamlib.txt", "Port: " + std::to_string(hamlibPort_) + "\nAddress: 127.0.0.1\nAllowSet: 0\n");
}

void Campaign::startController()
{
    sim::ControllerOptions co;
    co.binary = o_.ampctl;
    co.root = root_;
    co.workDir = o_.pictures;
    co.stderrFile = o_.outDir + "/ampctl.current.stderr";
    // A smaller quarantine keeps an AddressSanitizer build's resident memory a measure of
    // the program's own (the default holds up to 256 MiB of freed blocks).
    const char* asan = std::getenv("ASAN_OPTIONS");
    co.extraEnv.push_back({"ASAN_OPTIONS", std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "quarantine_size_mb=16"});
    startBegin_ = now();
    ctl_ = std::make_unique<sim::ControllerProcess>(co);
    ++starts_;
    fed_ = 0;
    log_.restart();
    bar_ = 0;
    menuIdx_ = 0;
    upSince_ = 0;
    ready_ = false;
    lastCpu_ = 0;
    busy();
    if (!waitFor([&] { return log_.count("Listening on port") > 0 && log_.count("Timer thread started") > 0; },
                 deadline(60)))
        throw Broken("the controller did not start its screen loop and server within " +
                     std::to_string(static_cast<int>(deadline(60))) + " s");
    upSince_ = now();
    // The peer is served again before anything else happens.
    if (!waitFor([&] { return peer_->reading() && peer_->lastStatus() > 0; }, deadline(30)))
        throw Broken("the remote peer was not served within " + std::to_string(static_cast<int>(deadline(30))) +
                     " s of the controller's start");
    if (!setup_.started()) {
        // The first start wrote the whole file: the model starts from it. Besides what the
        // menu sets, the controller writes state of its own with every save: the readers'
        // switches (off when a reader ends, on when the error key restarts it) and the
        // antenna and attenuator in use (the band row's, stepped by the panel's keys), each
        // within its range.
        const std::string text = readText(unit_->path("opt/set/setup.txt"));
        if (const std::string e = setup_.start(text); !e.empty())
            throw Broken("setup.txt after the first start: " + e);
        for (const char* k : {"EnableRead", "EnableWrite", "EnableCAT", "EnableFFT"})
            for (const char* v : {"0", "1"})
                setup_.allow(k, v);
        for (const char* v : {"1", "2", "3"})
            setup_.allow("NumAntenna", v);
        for (const char* v : {"0", "1", "2", "3", "4"})
            setup_.allow("Attenuator", v);
    }
    checkFiles("after the controller's start");
    startupSeconds_ += now() - startBegin_;
    ready_ = true;
    startingUntil_ = now() + 3;
}

void Campaign::endController(bool kill)
{
    if (!ctl_)
        return;
    if (kill)
        ctl_->kill();
    else
        ctl_->terminate();
    if (ctl_->waitExit(deadline(30)) < 0) {
        ctl_->kill();
        ctl_->waitExit(10);
        if (!kill)
            throw Broken("the controller did not stop within 30 s of SIGTERM");
    }
    ctl_->waitStderrEnd(5);
    const std::string text = ctl_->stderrText();
    // The stop's own lines (threads ending, ports closed) count with the start-ups'.
    markSecond(now(), STARTING);
    log_.feed(std::string_view(text).substr(std::min(fed_, text.size())), now());
    fed_ = text.size();
    std::ofstream(o_.outDir + "/ampctl.log", std::ios::app) << "==== controller start " << starts_ << "\n" << text;
    const std::string reports = ctl_->sanitizerReports();
    ctl_.reset();
    if (!reports.empty())
        throw Broken("sanitizer report in the controller's standard error:\n" + reports.substr(0, 2000));
}

void Campaign::restart(const std::string& why)
{
    killMoments_.push_back(now());
    ++kills_[why];
    if (!o_.quiet)
        std::printf("%7.1f s  SIGKILL %s\n", now(), why.c_str());
    endController(true);
    // The service manager's restart delay (Restart=on-failure, RestartSec's default).
    usleep(100000);
    startController();
}

void Campaign::checkFiles(const std::string& when)
{
    ++settingsChecks_;
    const std::string dir = unit_->path("opt/set");
    for (const auto& e : fs::directory_iterator(dir)) {
        if (!e.is_regular_file())
            continue;
        const std::string name = e.path().filename().string();
        const std::string text = readText(e.path().string());
        std::string error;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0 && when.find("start") != std::string::npos)
            error = "an interrupted save left behind after the start";
        else if (name == "setup.txt")
            error = setup_.check(text);
        else if (name.rfind("antenna", 0) == 0)
            error = checkBankTable(text);
        else
            error = checkWholeText(text);
        ++filesChecked_;
        if (!error.empty())
            throw Broken("settings file " + name + " " + when + ": " + error);
    }
}

void Campaign::tick()
{
    if (inTick_)
        return;
    inTick_ = true;
    struct Reset {
        bool& b;
        ~Reset() { b = false; }
    } reset{inTick_};
    const double t = now();
    if (ctl_) {
        const std::string text = ctl_->stderrText();
        if (text.size() > fed_) {
            log_.feed(std::string_view(text).substr(fed_), t);
            fed_ = text.size();
        }
        if (!log_.sanitizerLine().empty())
            throw Broken("sanitizer report in the controller's standard error: " + log_.sanitizerLine());
        if (!ctl_->running())
            throw Broken("the controller ended by itself (status " + std::to_string(ctl_->exitStatus()) + ")");
    }
    markSecond(t, !ready_ || t < startingUntil_                 ? STARTING
                  : t < busyUntil_ || !faultActive_.empty() ? BUSY
                                                            : STEADY);

    // The screen loop presents a frame at least every second: its status frame to the peer.
    // A gap while the other threads' frames (audio, spectrum, parameters) go on is the screen
    // loop's own; a gap in every frame is the whole process held up (a loaded machine), which
    // fails only past 10 s and is otherwise recorded.
    if (ctl_ && upSince_ > 0 && peer_->reading() && peer_->lastStatus() > 0) {
        const double last = peer_->lastStatus();
        const double gap = monoSeconds() - last;
        if (gap > deadline(1.0) && peer_->lastOther() - last > deadline(1.0)) {
            saveStacks();
            throw Broken("no status frame reached the peer for " + std::to_string(gap) +
                         " s while other frames did: the screen loop presented no frame (stacks in stacks.txt)");
        }
        if (gap > deadline(10.0))
            throw Broken("no frame at all reached the peer for " + std::to_string(gap) + " s");
        longestFrameGap_ = std::max(longestFrameGap_, gap);
    }

    if (ctl_ && t - lastSample_ >= 1.0) {
        const ProcessStats s = readProcessStats(ctl_->pid());
        const double cpu = ctl_->cpuSeconds();
        const double cpuPercent = lastSample_ >= 0 && lastCpu_ > 0 ? 100.0 * (cpu - lastCpu_) / (t - lastSample_) : 0;
        lastCpu_ = cpu;
        lastSample_ = t;
        samples_.push_back({t, s, std::max(0.0, cpuPercent), faultsInjected_});
        const double age = upSince_ > 0 ? t - upSince_ : 0;
        if (!atMinute_ && upTime() >= 60 && age >= 20)
            atMinute_ = s;
        // The bounds: what the controller held after its first minute (one that has run at
        // least 20 s), with room for what load and timing move.
        if (age >= 20 && s.rssMiB > 0) {
            if (!baseline_ && upTime() >= 60) {
                baseline_ = s;
            } else if (baseline_) {
                if (s.rssMiB > baseline_->rssMiB * 1.5 + 30)
                    throw Broken("resident memory " + std::to_string(s.rssMiB) + " MiB over the bound (1.5 x " +
                                 std::to_string(baseline_->rssMiB) + " + 30 MiB)");
                if (s.descriptors > baseline_->descriptors + 10)
                    throw Broken("open descriptors " + std::to_string(s.descriptors) + " over the bound (" +
                                 std::to_string(baseline_->descriptors) + " + 10)");
                if (s.threads > baseline_->threads + 4)
                    throw Broken("threads " + std::to_string(s.threads) + " over the bound (" +
                                 std::to_string(baseline_->threads) + " + 4)");
            }
        }
    }

    // A power cut at a random moment, whatever is going on: the action under way is
    // abandoned and the campaign restarts the controller.
    if (nextKill_ < killTimes_.size() && upTime() >= killTimes_[nextKill_] && ctl_ && ready_ &&
        static_cast<KillKind>(nextKill_ % 5) == KillKind::AnyMoment) {
        ++nextKill_;
        ctl_->kill();
        throw Interrupted{};
    }
}

// The controller's threads' stacks into <out>/stacks.txt, when gdb is there: what a thread
// that stopped is waiting for.
void Campaign::saveStacks()
{
    if (!ctl_ || access("/usr/bin/gdb", X_OK) != 0)
        return;
    const std::string command = "/usr/bin/gdb -batch -p " + std::to_string(ctl_->pid()) +
                                " -ex 'thread apply all bt 20' > '" + o_.outDir + "/stacks.txt' 2>&1";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "endurance: gdb could not read the controller's stacks\n");
}

bool Campaign::waitFor(const std::function<bool()>& pred, double seconds)
{
    const double end = monoSeconds() + seconds;
    for (;;) {
        tick();
        if (pred())
            return true;
        if (monoSeconds() >= end)
            return false;
        usleep(50000);
    }
}

// Presses a key and waits for the dispatcher to take it; returns the bar it was taken on,
// -1 when it was not (the error recovery took key 1 whole). A press that only woke the
// screen is pressed again, and so is one the reader missed (a loaded machine can keep the
// button thread from sampling a 100 ms press), once.
int Campaign::press(int key, int ms, bool again)
{
    log_.takeKeys();
    const size_t woke = log_.count("DISATTIVO SAVE SCREEN");
    const size_t recoveries = log_.count("ERRORI!!");
    if (!unit_->pressButton(key, ms))
        throw Broken("the front panel refused a press");
    ++panelPresses_;
    int bar = -1;
    bool recovery = false;
    waitFor(
        [&] {
            for (const KeySeen& k : log_.takeKeys())
                if (k.key == key)
                    bar = k.bar;
            recovery = key == 1 && log_.count("ERRORI!!") > recoveries;
            return bar >= 0 || recovery;
        },
        deadline(3) + ms / 1000.0);
    if (bar >= 0) {
        bar_ = barAfter(bar, key);
        return bar;
    }
    if (recovery)
        return -1;
    if (log_.count("DISATTIVO SAVE SCREEN") > woke)
        return press(key, ms, again);
    if (!again) {
        ++missedPresses_;
        return press(key, ms, true);
    }
    return -1;
}

// A press that must be taken on the given bar.
int Campaign::pressOn(int key, int bar)
{
    int seen = press(key);
    // Key 1 taken by the error recovery (an error raised meanwhile) is pressed again.
    for (int i = 0; i < 3 && seen < 0 && key == 1; ++i)
        seen = press(key);
    if (seen < 0)
        saveStacks();
    if (seen != bar)
        throw Broken("key " + std::to_string(key) + " was taken on bar " + std::to_string(seen) + ", expected bar " +
                     std::to_string(bar));
    return seen;
}

void Campaign::home()
{
    for (int i = 0; i < 12 && bar_ != 0; ++i)
        press(homeKey(bar_));
    if (bar_ != 0)
        throw Broken("the front panel did not return to the main bar within 12 presses (bar " + std::to_string(bar_) + ")");
}

// The error key (key 1, taken first by the error recovery) pressed on the menu bar, where
// its own action is harmless, until the error list is empty.
bool Campaign::clearErrors()
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (log_.errors().empty())
            return true;
        home();
        pressOn(5, 0);
        ++errorKeyPresses_;
        press(1);
        home();
        if (waitFor([&] { return log_.errors().empty(); }, deadline(5)))
            return true;
    }
    return log_.errors().empty();
}

void Campaign::menuEdit(bool killDuringSave)
{
    const MenuItem& item = editedMenuItems()[rng_() % editedMenuItems().size()];
    const std::string path = unit_->path("opt/set/setup.txt");
    const std::string before = SetupModel::valueOf(readText(path), item.key);
    if (before.empty())
        throw Broken("setup.txt has no " + item.key);
    home();
    pressOn(5, 0);
    while (menuIdx_ != item.index) {
        const int key = menuKeyTowards(menuIdx_, item.index);
        pressOn(key, 1);
        menuIdx_ = (menuIdx_ + (key == 4 ? 1 : 31)) % 32;
    }
    pressOn(6, 1);
    const int presses = item.step == 0 ? 1 : 1 + static_cast<int>(rng_() % 3);
    const bool up = rng_() % 2;
    for (int i = 0; i < presses; ++i)
        pressOn(up ? 5 : 4, 2);
    const std::string expected = valueAfter(item, before, presses, up);
    setup_.allow(item.key, expected);
    ++menuEdits_;
    pressOn(6, 2);
    if (killDuringSave) {
        usleep(static_cast<useconds_t>(rng_() % 150000));
        restart(killName(KillKind::MenuSave));
        return;
    }
    if (!waitFor([&] { return SetupModel::valueOf(readText(path), item.key) == expected; }, deadline(5)))
        throw Broken("the menu saved " + item.key + " " + expected + " but setup.txt holds " +
                     SetupModel::valueOf(readText(path), item.key));
    checkFiles("after a menu save");
    home();
}

// Keys of the main bar: the view (6), the antenna (3) and the attenuator (2); the last two
// save the bank's table.
void Campaign::panelKey(bool killDuringSave)
{
    home();
    const int keys[] = {6, 3, 2};
    const int key = killDuringSave ? keys[1 + rng_() % 2] : keys[rng_() % 3];
    pressOn(key, 0);
    if (killDuringSave) {
        usleep(static_cast<useconds_t>(rng_() % 100000));
        restart(killName(KillKind::BankSave));
    }
}

// Manual tuning and the store of its result: tune bar, manual bar, save bar, SAVE.
void Campaign::tuneStore(bool killDuringSave)
{
    home();
    pressOn(4, 0);
    pressOn(6, 3);
    pressOn(1, 4);
    pressOn(6, 8);
    if (killDuringSave) {
        usleep(static_cast<useconds_t>(rng_() % 150000));
        restart(killName(KillKind::TuneStore));
        return;
    }
    home();
}

void Campaign::settingsKey(bool killDuringSave)
{
    if (!unit_->keyboardKey(sim::kKeyF11))
        throw Broken("the keyboard refused F11");
    if (killDuringSave) {
        usleep(static_cast<useconds_t>(rng_() % 200000));
        restart(killName(KillKind::SettingsKey));
        return;
    }
    pause(1);
    checkFiles("after F11");
}

void Campaign::hamlibAsk()
{
    hamlibtest::LineClient c(hamlibPort_);
    const std::string answer = c.ok() ? c.ask("l SWR") : "";
    if (answer.empty())
        throw Broken("the Hamlib port did not answer \"l SWR\"");
    ++hamlibAnswers_;
}

void Campaign::recover(const FaultKind& kind, double ended)
{
    KindStats& st = stats_[kind.name];
    double took = 0;
    switch (kind.recovery) {
    case Recovery::LinkPolls: {
        double reply = -1;
        const auto polled = [&] {
            double command = -1;
            for (const sim::WireEntry& e : unit_->wireLog()) {
                if (e.t <= ended)
                    continue;
                if (e.toBoard && command < 0)
                    command = e.t;
                else if (!e.toBoard && command >= 0) {
                    reply = e.t;
                    return true;
                }
            }
            return false;
        };
        if (!waitFor(polled, deadline(2.0)))
            throw Broken(kind.name + ": the link did not poll again (command and reply) within " +
                         std::to_string(deadline(2.0)) + " s of the fault's end");
        took = reply - ended;
        break;
    }
    case Recovery::ErrorKey: {
        // The device is back; the error key (below) restarts its reader.
        pause(1);
        for (const int code : log_.errors())
            st.raised.insert(code);
        if (!clearErrors())
            throw Broken(kind.name + ": the device is back but the error key did not clear the errors");
        took = monoSeconds() - ended;
        break;
    }
    case Recovery::StreamForwards: {
        const long before = peer_->framesByTag()["PA"];
        if (!waitFor([&] { return peer_->framesByTag()["PA"] > before; }, deadline(5)))
            throw Broken(kind.name + ": no transceiver parameter frame reached the peer within " +
                         std::to_string(deadline(5)) + " s of the stream's return");
        took = monoSeconds() - ended;
        break;
    }
    case Recovery::PeerClosed:
        if (!waitFor([&] { return peer_->lastHalfCloseSeconds() >= 0; }, 35))
            throw Broken(kind.name + ": the peer never saw its half-closed connection end");
        if (peer_->lastHalfCloseSeconds() > deadline(10))
            throw Broken(kind.name + ": the unit took " + std::to_string(peer_->lastHalfCloseSeconds()) +
                         " s to close a half-closed connection");
        [[fallthrough]];
    case Recovery::PeerServed:
        if (!waitFor([&] { return peer_->reading() && peer_->lastStatus() > ended; }, deadline(15)))
            throw Broken(kind.name + ": the peer was not served again within " + std::to_string(deadline(15)) + " s");
        took = monoSeconds() - ended;
        break;
    }
    // Whatever the fault raised besides clears with the error key once it is over.
    for (const int code : log_.errors())
        st.raised.insert(code);
    if (!clearErrors())
        throw Broken(kind.name + ": the error key did not clear the errors left after the fault");
    ++st.recovered;
    st.longest = std::max(st.longest, took);
}

void Campaign::fault(const FaultKind& kind)
{
    KindStats& st = stats_[kind.name];
    ++st.injected;
    ++faultsInjected_;
    busy();
    faultActive_ = kind.name;
    endLines_ = kind.end;
    const double hold = kind.minHold + (kind.maxHold - kind.minHold) * std::uniform_real_distribution<>(0, 1)(rng_);
    unit_->wire().clear();
    if (!kind.start.empty())
        control(kind.start);
    const double started = monoSeconds();
    switch (kind.peer) {
    case PeerAction::Stall: peer_->stall(hold); break;
    case PeerAction::HalfClose: peer_->halfClose(); break;
    case PeerAction::Drop: peer_->drop(); break;
    case PeerAction::None: break;
    }
    if (kind.recovery == Recovery::ErrorKey) {
        const auto raised = [&] {
            return std::all_of(kind.errors.begin(), kind.errors.end(), [&](int c) { return log_.hasError(c); });
        };
        if (!waitFor(raised, deadline(15))) {
            std::string codes;
            for (int c : kind.errors)
                codes += " " + std::to_string(c);
            throw Broken(kind.name + ": the device's loss did not raise error(s)" + codes + " within " +
                         std::to_string(deadline(15)) + " s");
        }
    }
    pause(std::max(0.0, hold - (monoSeconds() - started)));
    if (!kind.end.empty())
        control(kind.end);
    const double ended = monoSeconds();
    faultActive_.clear();
    endLines_.clear();
    recover(kind, ended);
    busy();
}

void Campaign::nextAction()
{
    const std::vector<FaultKind>& kinds = faultKinds();
    if (nextKill_ < killTimes_.size() && upTime() >= killTimes_[nextKill_]) {
        const auto kind = static_cast<KillKind>(nextKill_ % 5);
        if (kind != KillKind::AnyMoment) {
            ++nextKill_;
            busy();
            switch (kind) {
            case KillKind::MenuSave: menuEdit(true); break;
            case KillKind::BankSave: panelKey(true); break;
            case KillKind::TuneStore: tuneStore(true); break;
            case KillKind::SettingsKey: settingsKey(true); break;
            case KillKind::AnyMoment: break;
            }
            return;
        }
    }
    // With --every-kind, a kind not yet seen through to its recovery (a power cut may cut
    // one short) goes first.
    const auto untried = std::find_if(kinds.begin(), kinds.end(),
                                      [&](const FaultKind& k) { return stats_[k.name].recovered == 0; });
    const bool first = o_.everyKind && untried != kinds.end();
    const unsigned pick = first ? 0 : rng_() % 10;
    if (pick < 5) {
        // Every kind once in each round, in a random order.
        if (bag_.empty()) {
            for (size_t i = 0; i < kinds.size(); ++i)
                bag_.push_back(i);
            std::shuffle(bag_.begin(), bag_.end(), rng_);
        }
        size_t k = bag_.back();
        if (first)
            k = static_cast<size_t>(untried - kinds.begin());
        else
            bag_.pop_back();
        if (!o_.quiet)
            std::printf("%7.1f s  fault %s\n", now(), kinds[k].name.c_str());
        fault(kinds[k]);
    } else if (pick < 7) {
        busy();
        menuEdit(false);
    } else if (pick < 9) {
        busy();
        panelKey(false);
    } else {
        busy();
        if (rng_() % 2)
            tuneStore(false);
        else
            settingsKey(false);
    }
    if (now() - lastHamlib_ > 20) {
        lastHamlib_ = now();
        hamlibAsk();
    }
    // Steady operation between actions.
    pause(0.5 + 2.5 * std::uniform_real_distribution<>(0, 1)(rng_));
}

int Campaign::run()
{
    fs::create_directories(o_.outDir);
    fs::remove(o_.outDir + "/ampctl.log");
    t0_ = monoSeconds();
    const int kills = o_.kills >= 0 ? o_.kills : static_cast<int>(o_.duration / 30);
    std::uniform_real_distribution<> jitter(-0.4, 0.4);
    for (int i = 0; i < kills; ++i)
        killTimes_.push_back((i + 0.5 + jitter(rng_)) * o_.duration / kills);
    std::string verdict;
    try {
        setUp();
        peer_ = std::make_unique<RemotePeer>(wsPort_, PASSWORD);
        startController();
        const auto untried = [&] {
            return o_.everyKind && std::any_of(faultKinds().begin(), faultKinds().end(),
                                               [&](const FaultKind& k) { return stats_[k.name].recovered == 0; });
        };
        while (upTime() < o_.duration || nextKill_ < killTimes_.size() || untried()) {
            if (upTime() > 3 * o_.duration)
                throw Broken("the campaign ran three times its duration without every fault kind or power cut");
            try {
                nextAction();
            } catch (const Interrupted&) {
                // The power cut came in the middle of an action: a fault still on ends (the
                // device is back before the controller starts again).
                if (!faultActive_.empty()) {
                    ++stats_[faultActive_].interrupted;
                    if (!endLines_.empty())
                        control(endLines_);
                    faultActive_.clear();
                    endLines_.clear();
                }
                restart(killName(KillKind::AnyMoment));
            }
        }
        // Whatever the last action left, the error key clears and the files hold.
        if (!clearErrors())
            throw Broken("errors left at the end that the error key does not clear");
        checkFiles("at the end");
        endController(false);
        for (const FaultKind& k : faultKinds())
            if (stats_[k.name].recovered == 0 && o_.everyKind)
                throw Broken(k.name + ": never injected and recovered in the whole campaign");
        verdict = "PASS: every invariant held";
    } catch (const Broken& b) {
        verdict = std::string("FAIL at ") + std::to_string(now()) + " s: " + b.what();
    } catch (const Interrupted&) {
        verdict = "FAIL: a power cut during the campaign's own end";
    } catch (const std::exception& e) {
        verdict = std::string("FAIL: ") + e.what();
    }
    if (ctl_) {
        try {
            endController(true);
        } catch (const Broken& b) {
            verdict += std::string("; at the end: ") + b.what();
        }
    }
    if (peer_) {
        peerLogins_ = peer_->logins();
        peerFrames_ = peer_->framesByTag();
    }
    peer_.reset();
    if (unit_)
        unit_->stop();
    verdict = report(verdict);
    std::printf("%s\n", verdict.c_str());
    return verdict.rfind("PASS", 0) == 0 ? 0 : 1;
}

// Writes the summary and the plot; returns the final verdict.
std::string Campaign::report(const std::string& verdict)
{
    const double duration = std::max(1.0, now());
    const std::vector<unsigned>& perSecond = log_.linesPerSecond();
    // The log's rate over 10-second windows, each window of the worst kind of second in it:
    // steady (no fault, action or start-up in the window, nor in the 3 s before), busy
    // (faults and actions) and start-ups. A start-up writes the controller's fixed start-up
    // text once, an event of its own: those windows are reported, not held to a bound.
    const auto kindOf = [&](size_t s) { return s < busySeconds_.size() ? busySeconds_[s] : static_cast<char>(STARTING); };
    double worst[3] = {-1, -1, -1}, lines[3] = {0, 0, 0};
    long seconds[3] = {0, 0, 0};
    for (size_t s = 0; s < perSecond.size(); ++s) {
        lines[static_cast<int>(kindOf(s))] += perSecond[s];
        seconds[static_cast<int>(kindOf(s))] += 1;
    }
    for (size_t s = 0; s + 10 <= perSecond.size(); ++s) {
        double windowLines = 0;
        char windowKind = STEADY;
        for (size_t i = s; i < s + 10; ++i) {
            windowLines += perSecond[i];
            windowKind = std::max<char>(windowKind, kindOf(i));
        }
        double& w = worst[static_cast<int>(windowKind)];
        w = std::max(w, windowLines / 10);
    }
    const bool logOk = worst[STEADY] < 1 && worst[BUSY] < 10;
    const auto worstText = [&](int k) {
        return worst[k] < 0 ? std::string("none of 10 s") : std::to_string(worst[k]) + "/s";
    };
    const auto average = [&](int k) { return seconds[k] ? lines[k] / static_cast<double>(seconds[k]) : 0.0; };
    std::string finalVerdict = verdict;
    if (!logOk && o_.logBoundFails && verdict.rfind("PASS", 0) == 0)
        finalVerdict = "FAIL: the log exceeded its bound (see below)";

    std::vector<Series> panels(6);
    panels[0].title = "RESIDENT MEMORY (MIB)";
    panels[1].title = "OPEN DESCRIPTORS";
    panels[2].title = "THREADS";
    panels[3].title = "PROCESSOR SHARE (%)";
    panels[4].title = "LOG LINES PER SECOND";
    panels[5].title = "FAULTS INJECTED (TOTAL)";
    for (const Sample& s : samples_) {
        const double v[] = {s.stats.rssMiB, static_cast<double>(s.stats.descriptors), static_cast<double>(s.stats.threads),
                            s.cpuPercent, -1, static_cast<double>(s.faults)};
        for (int p : {0, 1, 2, 3, 5}) {
            panels[p].t.push_back(s.t);
            panels[p].value.push_back(std::max(0.0, v[p]));
        }
    }
    for (size_t s = 0; s < perSecond.size(); ++s) {
        panels[4].t.push_back(static_cast<double>(s) + 0.5);
        panels[4].value.push_back(perSecond[s]);
    }
    const std::string plotError = writePlot(o_.outDir + "/plot.png", panels, killMoments_, duration);

    std::ostringstream md;
    char buf[1024];
    md << "# Endurance campaign\n\n**" << finalVerdict << "**\n\n";
    std::snprintf(buf, sizeof buf,
                  "Seed %u; %.0f s planned, %.0f s run with the controller up (%.0f s in all, start-ups included); "
                  "deadline slack x%.1f; controller %s.\n\n",
                  o_.seed, o_.duration, upTime(), duration, o_.slack, o_.ampctl.c_str());
    md << buf;
    md << "## Faults injected\n\n| Kind | Injected | Recovered | Cut by a kill | Longest recovery (s) | Errors raised |\n"
          "|---|---|---|---|---|---|\n";
    for (const FaultKind& k : faultKinds()) {
        const KindStats& s = stats_[k.name];
        std::string raised;
        for (const int code : s.raised)
            raised += (raised.empty() ? "" : " ") + std::to_string(code);
        std::snprintf(buf, sizeof buf, "| %s | %ld | %ld | %ld | %.2f | %s |\n", k.name.c_str(), s.injected, s.recovered,
                      s.interrupted, s.longest, raised.c_str());
        md << buf;
    }
    md << "\n## Power cuts (SIGKILL, restart after 0.1 s)\n\n";
    long killTotal = 0;
    for (const auto& [why, n] : kills_) {
        md << "- " << why << ": " << n << "\n";
        killTotal += n;
    }
    md << "- total: " << killTotal << " (controller started " << starts_ << " times)\n\n";
    md << "## Front panel, files, ports\n\n";
    md << "- button presses: " << panelPresses_ << " (" << missedPresses_ << " missed by the reader and pressed again), menu edits: "
       << menuEdits_ << ", error key presses: " << errorKeyPresses_ << "\n";
    std::snprintf(buf, sizeof buf, "- longest time between two status frames (one a screen frame): %.2f s\n", longestFrameGap_);
    md << buf;
    md << "- settings checks: " << settingsChecks_ << " (" << filesChecked_ << " files parsed and checked)\n";
    md << "- Hamlib answers: " << hamlibAnswers_ << "; remote peer logins: " << peerLogins_ << "; frames it read:";
    for (const auto& [tag, n] : peerFrames_)
        md << " " << tag << " " << n;
    md << "\n\n";
    md << "## Resources of the controller\n\n| | RSS (MiB) | Descriptors | Threads |\n|---|---|---|---|\n";
    auto row = [&](const char* name, const std::optional<ProcessStats>& s) {
        if (!s)
            return;
        std::snprintf(buf, sizeof buf, "| %s | %.1f | %d | %d |\n", name, s->rssMiB, s->descriptors, s->threads);
        md << buf;
    };
    row("at 1 minute", atMinute_);
    row("bound's base", baseline_);
    if (!samples_.empty())
        row("at the end", samples_.back().stats);
    double cpuSum = 0;
    for (const Sample& s : samples_)
        cpuSum += s.cpuPercent;
    std::snprintf(buf, sizeof buf, "\nMean processor share: %.1f %% of one core.\n\n",
                  samples_.empty() ? 0.0 : cpuSum / samples_.size());
    md << buf;
    md << "## Log (standard error and the system log)\n\n";
    std::snprintf(buf, sizeof buf,
                  "- steady operation: %.2f lines/s on average over %ld s, worst 10-s window %s (bound 1)\n"
                  "- while faults and actions go on: %.2f lines/s on average over %ld s, worst 10-s window %s (bound 10)\n"
                  "- start-ups and the last stop (%ld starts; the fixed start-up text): %.0f lines a start, %.2f lines/s over %ld s, "
                  "worst 10-s window %s\n"
                  "- bound %s\n\nMost frequent lines (digits folded to #):\n\n| Lines/s | Line |\n|---|---|\n",
                  average(STEADY), seconds[STEADY], worstText(STEADY).c_str(), average(BUSY), seconds[BUSY],
                  worstText(BUSY).c_str(), starts_, starts_ ? lines[STARTING] / static_cast<double>(starts_) : 0.0,
                  average(STARTING), seconds[STARTING], worstText(STARTING).c_str(), logOk ? "held" : "EXCEEDED");
    md << buf;
    for (const auto& [kind, n] : log_.topLines(8)) {
        std::snprintf(buf, sizeof buf, "| %.2f | %s |\n", n / duration,
                      kind.empty() ? "(empty line)" : ("`" + kind + "`").c_str());
        md << buf;
    }
    md << "\nPlot: `plot.png`" << (plotError.empty() ? "" : " (" + plotError + ")") << "\n";
    writeText(o_.outDir + "/summary.md", md.str());
    if (!o_.quiet)
        std::printf("%s", md.str().c_str());
    return finalVerdict;
}

} // namespace

int runCampaign(const CampaignOptions& options)
{
    Campaign c(options);
    return c.run();
}

} // namespace endurance
