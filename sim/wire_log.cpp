#include "wire_log.h"

#include "platform/clock.h"

#include <chrono>

namespace sim {

namespace {

std::string stamp(double t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", t);
    return text;
}

} // namespace

WireLog::~WireLog()
{
    if (file_)
        std::fclose(file_);
}

bool WireLog::openFile(const std::string& path, size_t maxFileBytes)
{
    std::lock_guard lock(mutex_);
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    path_ = path;
    maxFileBytes_ = maxFileBytes;
    fileBytes_ = 0;
    if (path.empty())
        return true;
    std::remove((path + ".1").c_str());
    file_ = std::fopen(path.c_str(), "we");
    return file_ != nullptr;
}

void WireLog::writeLine(const std::string& line)
{
    const auto put = [this](const std::string& text) {
        std::fprintf(file_, "%s\n", text.c_str());
        std::fflush(file_);
        fileBytes_ += text.size() + 1;
    };
    put(line);
    if (fileBytes_ < maxFileBytes_)
        return;
    std::fclose(file_);
    std::rename(path_.c_str(), (path_ + ".1").c_str());
    fileBytes_ = 0;
    file_ = std::fopen(path_.c_str(), "we");
    if (file_)
        put(stamp(monoSeconds()) + " # continued from " + path_.substr(path_.rfind('/') + 1) + ".1");
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
    return stamp(e.t) + (e.toBoard ? " > " : " < ") + printable(e.frame);
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
        if (file_)
            writeLine(format(entry));
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
    writeLine(stamp(monoSeconds()) + " # " + printable(text));
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
