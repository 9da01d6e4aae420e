#include "amplifier/cpu_temp_reader.h"

#include "amplifier/thermal.h"
#include "core/works.h"

#include <chrono>

CpuTempReader::CpuTempReader(Works* works) : works_(works), thread_([this] { run(); }) {}

CpuTempReader::~CpuTempReader()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CpuTempReader::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && works_->running) {
        const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(CPU_TEMP_PERIOD_MS);
        lock.unlock();
        ReadCPUTemp(works_);
        lock.lock();
        wake_.wait_until(lock, next, [this] { return stop_; });
    }
}
