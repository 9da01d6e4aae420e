#pragma once
// The processor temperatures read off the screen loop: a thread of its own runs my_temp
// (ReadCPUTemp, with its time-out) at most once a second while the program runs, so a
// slow or hung helper never holds up a frame, the peer's status or a countdown.
#include <condition_variable>
#include <mutex>
#include <thread>

struct Works;

class CpuTempReader {
public:
    explicit CpuTempReader(Works* works);
    // Stops the reader and joins it (at most one helper's time-out when one is running).
    ~CpuTempReader();
    CpuTempReader(const CpuTempReader&) = delete;
    CpuTempReader& operator=(const CpuTempReader&) = delete;

private:
    void run();

    Works* works_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// Time between the starts of two my_temp runs.
constexpr int CPU_TEMP_PERIOD_MS = 1000;
