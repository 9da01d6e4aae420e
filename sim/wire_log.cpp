#include "wire_log.h"

#include "platform/clock.h"

#include <chrono>

namespace sim {

WireLog::~WireLog()
{
    if (file_)
        std::fclose(file_);
}

bool WireLog::openFile(const std::string& path)
{
    std::lock_guard lock(mutex_);
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (path.empty())
        return true;
    file_ = std::fopen(path.c_str(), "we");
    return file_ != nullptr;
}

std::string WireLog::printable(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string WireLog::format(const WireEntry& e)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.6f", e.t);
    return std::string(stamp) + (e.toBoard ? " > " : " < ") + printable(e.frame);
}

void WireLog::keepEntries(bool keep)
{
    std::lock_guard lock(mutex_);
    keep_ = keep;
}

void WireLog::add(WireEntry entry)
{
    {
        std::lock_guard lock(mutex_);
        if (file_) {
            const std::string line = format(entry);
            std::fprintf(file_, "%s\n", line.c_str());
            std::fflush(file_);
        }
        if (keep_)
            entries_.push_back(std::move(entry));
    }
    changed_.notify_all();
}

void WireLog::note(std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (!file_)
        return;
    std::fprintf(file_, "%.6f # %s\n", monoSeconds(), printable(text).c_str());
    std::fflush(file_);
}

std::vector<WireEntry> WireLog::entries() const
{
    std::lock_guard lock(mutex_);
    return entries_;
}

size_t WireLog::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void WireLog::clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}

bool WireLog::waitFor(const std::function<bool(const std::vector<WireEntry>&)>& pred,
                      double timeoutSeconds) const
{
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(timeoutSeconds < 0 ? 0 : timeoutSeconds));
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return pred(entries_); });
}

} // namespace sim
