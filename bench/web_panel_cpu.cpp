// CPU use of ampsim (its own process, not the controller it runs) with the panel idle:
// Arg 0 without a viewer, Arg 1 with the web panel open in headless Chromium (Debian's),
// Arg 2 with the page and its plots on a unit that shows its job (--show-job) after a tuner
// search on 20 m (its path and map drawn, the strip charts full of it); Arg 3 the same with
// the transceiver keyed as the measurement starts: the search runs while it is measured
// (the panel's meters move too, and each of their frames is a PNG for the page).
// Counter cpu_percent_of_core: CPU seconds per wall second x 100 over 20 s, measured once
// the controller's start-up screen is over and the panel file has stopped changing;
// web_threads_percent: the part of it taken by the web panel's own threads (named "web-":
// the panel frames and the HTTP server), the rest being the simulated devices, which run in
// real time whether anyone watches or not;
// with Args 1 and 2, without_page_percent: the same process measured again on the same unit
// once the page is closed and the panel no longer watched, and page_adds_percent: what the
// open page added, the difference of the two;
// panel_changes: how often the panel file changed during the measurement; with Arg 2
// tuner_points: the settings the search tried (from the page's own /tuner document).
// PanelFrameRate: frames a viewer gets per second from /panel.png while the panel file
// changes 50 times a second (the unit in this process, a long-polling client as the page).
//
//   build/web_panel_cpu --benchmark_counters_tabular=true
#include "panel_frames.h"
#include "proc_stat.h"
#include "platform/clock.h"
#include "sim_unit.h"
#include "web_panel.h"

#include <httplib.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kMeasureSeconds = 20;
// The panel is watched for 5 s after a viewer's last request.
constexpr unsigned kUnwatchedAfterSeconds = 8;

// A child process in a process group of its own, ended (group SIGTERM, then SIGKILL) at
// the end of its owner; its standard output optionally on a pipe.
class Child {
public:
    Child(const std::vector<std::string>& argv, bool pipeOut, const std::string& logPath)
    {
        int out[2] = {-1, -1};
        if (pipeOut && pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(pipeOut ? out[1] : log, 1);
            dup2(log, 2);
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (pipeOut) {
            ::close(out[1]);
            out_ = out[0];
        }
    }
    ~Child()
    {
        if (pid_ > 0) {
            ::kill(-pid_, SIGTERM);
            for (int i = 0; i < 300 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                usleep(100 * 1000);
            ::kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }

    // The next line of its output, "" at its end or after the timeout.
    std::string line(double timeoutSeconds)
    {
        std::string s;
        const double end = monoSeconds() + timeoutSeconds;
        while (monoSeconds() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                continue;
            char c;
            if (::read(out_, &c, 1) != 1)
                return s;
            if (c == '\n')
                return s;
            s += c;
        }
        return s;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

double cpuSeconds(pid_t pid)
{
    return sim::procCpuSeconds("/proc/" + std::to_string(pid) + "/stat");
}

// CPU seconds of the process's threads whose names begin with `prefix` (those alive now).
double threadsCpuSeconds(pid_t pid, const std::string& prefix)
{
    double sum = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::string name;
        const double cpu = sim::procCpuSeconds(task.path().string() + "/stat", false, &name);
        if (cpu >= 0 && name.rfind(prefix, 0) == 0)
            sum += cpu;
    }
    return sum;
}

std::string readPanel(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string s(sim::kPanelBytes, '\0');
    in.read(s.data(), static_cast<std::streamsize>(s.size()));
    return s;
}

// Waits until the panel file has not changed for `quiet` seconds (at most `limit`).
bool waitPanelIdle(const std::string& path, double quiet, double limit)
{
    std::string last = readPanel(path);
    double since = monoSeconds();
    const double end = since + limit;
    while (monoSeconds() < end) {
        usleep(250 * 1000);
        std::string now = readPanel(path);
        if (now != last) {
            last.swap(now);
            since = monoSeconds();
        } else if (monoSeconds() - since >= quiet) {
            return true;
        }
    }
    return false;
}

void WebPanelIdleCpu(benchmark::State& state)
{
    const bool withPage = state.range(0) != 0;
    const bool search = state.range(0) >= 2;
    const bool searchMeasured = state.range(0) == 3;
    const auto dir = std::filesystem::temp_directory_path() / ("ampctl-bench-web-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string root = (dir / "root").string();
    for (auto _ : state) {
        std::vector<std::string> argv = {AMPCTL_BUILD_DIR "/ampsim", "--root", root, "--run-ampctl", AMPCTL_BIN,
                                         "--quiet", "--web", "0"};
        if (search)
            argv.push_back("--show-job");
        Child ampsim(argv, true, (dir / "ampsim.log").string());
        std::string url;
        for (std::string l = ampsim.line(60); !l.empty(); l = ampsim.line(60)) {
            if (l.find("web panel") != std::string::npos) {
                url = l.substr(l.find("http://"));
                url = url.substr(0, url.find(' '));
                break;
            }
        }
        if (url.empty()) {
            state.SkipWithError("ampsim printed no web panel address");
            break;
        }
        const std::string fb = root + "/dev/fb0";
        if (!waitPanelIdle(fb, 3, 60)) {
            state.SkipWithError("the panel never came to rest");
            break;
        }
        std::unique_ptr<Child> browser;
        if (withPage) {
            browser = std::make_unique<Child>(
                std::vector<std::string>{"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                         "--no-first-run", "--disable-background-networking",
                                         "--disable-component-update", "--disable-sync",
                                         "--user-data-dir=" + (dir / "chromium").string(), url},
                false, (dir / "chromium.log").string());
            sleep(8); // the page loads and its first frames and readouts arrive
        }
        const std::string port = url.substr(url.rfind(':') + 1);
        httplib::Client client("127.0.0.1", std::atoi(port.c_str()));
        if (search) {
            std::ofstream(root + "/sim/control") << "trx power 2\ntrx freq 14200000\n";
            sleep(3); // the band change reaches the board
            std::ofstream(root + "/sim/control") << "trx tx on\n";
            // Before the measurement: the search over, the page's plots drawn.
            for (int i = 0; i < 240 && !searchMeasured; ++i) {
                sleep(1);
                auto res = client.Get("/tuner");
                if (res && res->body.find("\"running\":false") != std::string::npos &&
                    res->body.find("]]") != std::string::npos) {
                    sleep(3);
                    break;
                }
            }
        }
        // CPU shares over one measurement: the whole process, and its web panel threads.
        struct Shares {
            double cpu = 0, web = 0, wall = 0;
            int changes = 0;
        };
        const auto measure = [&] {
            Shares m;
            std::string panel = readPanel(fb);
            const double cpu0 = cpuSeconds(ampsim.pid());
            const double web0 = threadsCpuSeconds(ampsim.pid(), "web-");
            const double t0 = monoSeconds();
            while (monoSeconds() - t0 < kMeasureSeconds) {
                usleep(500 * 1000);
                std::string now = readPanel(fb);
                if (now != panel) {
                    ++m.changes;
                    panel.swap(now);
                }
            }
            m.wall = monoSeconds() - t0;
            m.cpu = 100.0 * (cpuSeconds(ampsim.pid()) - cpu0) / m.wall;
            m.web = 100.0 * (threadsCpuSeconds(ampsim.pid(), "web-") - web0) / m.wall;
            return m;
        };
        const Shares with = measure();
        state.SetIterationTime(with.wall);
        state.counters["cpu_percent_of_core"] = with.cpu;
        state.counters["web_threads_percent"] = with.web;
        state.counters["panel_changes"] = with.changes;
        if (withPage && !searchMeasured) {
            // The same unit again once the page is closed and the panel no longer watched:
            // what opening the page adds is the difference.
            browser.reset();
            sleep(kUnwatchedAfterSeconds);
            const Shares without = measure();
            state.counters["without_page_percent"] = without.cpu;
            state.counters["page_adds_percent"] = with.cpu - without.cpu;
        }
        if (search) {
            auto res = client.Get("/tuner");
            const std::string body = res ? res->body : "";
            state.counters["tuner_points"] = static_cast<double>(std::count(body.begin(), body.end(), '[')) - 1;
        }
    }
    std::filesystem::remove_all(dir);
}

void PanelFrameRate(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / ("ampctl-bench-frames-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    for (auto _ : state) {
        sim::SimUnit unit(dir.string());
        sim::WebPanel web(unit, nullptr, {});
        std::string error;
        if (!web.start(error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        // The panel changes 50 times a second: a bar sweeping across it.
        std::atomic<bool> drawing{true};
        std::thread painter([&] {
            const int fd = ::open(unit.framebufferPath().c_str(), O_RDWR | O_CLOEXEC);
            std::vector<unsigned char> row(sim::kPanelWidth * 4);
            for (int n = 0; drawing && fd >= 0; ++n) {
                // White bars on the way down, black ones on the next: every write changes it.
                const int y = n % sim::kPanelHeight;
                std::fill(row.begin(), row.end(), (n / sim::kPanelHeight) % 2 ? 0x00 : 0xFF);
                pwrite(fd, row.data(), row.size(), static_cast<off_t>(y) * sim::kPanelWidth * 4);
                usleep(20 * 1000);
            }
            if (fd >= 0)
                ::close(fd);
        });
        httplib::Client client("127.0.0.1", web.port());
        uint64_t version = 0;
        int frames = 0;
        const double t0 = monoSeconds();
        while (monoSeconds() - t0 < 10) {
            auto res = client.Get(("/panel.png?after=" + std::to_string(version)).c_str());
            if (res && res->status == 200) {
                version = std::stoull(res->get_header_value("X-Panel-Version"));
                ++frames;
            }
        }
        const double wall = monoSeconds() - t0;
        drawing = false;
        painter.join();
        web.stop();
        unit.stop();
        state.SetIterationTime(wall);
        state.counters["frames_per_second"] = frames / wall;
    }
    std::filesystem::remove_all(dir);
}

} // namespace

BENCHMARK(PanelFrameRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(WebPanelIdleCpu)->ArgName("page")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
