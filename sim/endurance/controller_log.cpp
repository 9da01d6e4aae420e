#include "controller_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace endurance {

namespace {

// The number after `prefix` at the end of `l` ("... err:9" gives 9), -1 when absent.
int numberAfter(std::string_view l, std::string_view prefix)
{
    const size_t at = l.rfind(prefix);
    if (at == std::string_view::npos)
        return -1;
    int v = 0;
    size_t i = at + prefix.size();
    if (i >= l.size() || !std::isdigit(static_cast<unsigned char>(l[i])))
        return -1;
    for (; i < l.size() && std::isdigit(static_cast<unsigned char>(l[i])); ++i)
        v = v * 10 + (l[i] - '0');
    return v;
}

bool isSanitizerLine(std::string_view l)
{
    for (std::string_view mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                                  "ERROR: ThreadSanitizer", "runtime error:", "ERROR: UndefinedBehaviorSanitizer"})
        if (l.find(mark) != std::string_view::npos)
            return true;
    return false;
}

} // namespace

void ControllerLog::feed(std::string_view text, double now)
{
    generation_.append(text);
    partial_.append(text);
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1)
        line(std::string_view(partial_).substr(start, end - start), now);
    partial_.erase(0, start);
}

void ControllerLog::restart()
{
    partial_.clear();
    generation_.clear();
    errors_.clear();
    keys_.clear();
}

void ControllerLog::line(std::string_view l, double now)
{
    // A blank line is no line of the log: a simulated unit's copy of a system log message
    // that carried its own line end ends in one.
    if (l.empty())
        return;
    ++total_;
    const size_t second = now < 0 ? 0 : static_cast<size_t>(now);
    if (perSecond_.size() <= second)
        perSecond_.resize(second + 1, 0);
    ++perSecond_[second];
    ++kinds_[kindOf(l)];
    if (sanitizer_.empty() && isSanitizerLine(l))
        sanitizer_ = std::string(l);

    if (l.rfind("Add: N: ", 0) == 0) {
        if (const int code = numberAfter(l, " err:"); code >= 0)
            errors_.insert(code);
    } else if (l.rfind("Del ERROR: N: ", 0) == 0) {
        if (const int code = numberAfter(l, " err:"); code >= 0)
            errors_.erase(code);
    } else if (l.rfind("Del temp err: ", 0) == 0) {
        if (const int code = numberAfter(l.substr(0, l.find(" (")), "err: "); code >= 0)
            errors_.erase(code);
    } else if (l.rfind("key ", 0) == 0) {
        KeySeen k;
        char longMark[8] = "";
        if (std::sscanf(std::string(l).c_str(), "key %d (%7[a-z]) on bar %d:", &k.key, longMark, &k.bar) == 3) {
            k.longPress = true;
            keys_.push_back(k);
        } else if (std::sscanf(std::string(l).c_str(), "key %d on bar %d:", &k.key, &k.bar) == 2) {
            keys_.push_back(k);
        }
    }
}

std::vector<KeySeen> ControllerLog::takeKeys()
{
    std::vector<KeySeen> out;
    out.swap(keys_);
    return out;
}

size_t ControllerLog::count(std::string_view text) const
{
    size_t n = 0;
    for (size_t at = generation_.find(text); at != std::string::npos; at = generation_.find(text, at + 1))
        ++n;
    return n;
}

std::vector<std::pair<std::string, size_t>> ControllerLog::topLines(size_t n) const
{
    std::vector<std::pair<std::string, size_t>> all(kinds_.begin(), kinds_.end());
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (all.size() > n)
        all.resize(n);
    return all;
}

std::string ControllerLog::kindOf(std::string_view line)
{
    std::string out;
    bool inNumber = false;
    for (const char c : line) {
        const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (digit && !inNumber)
            out += '#';
        else if (!digit)
            out += c;
        inNumber = digit;
    }
    // Long lines are cut: a kind is for reading in a summary.
    if (out.size() > 80)
        out.resize(80);
    return out;
}

} // namespace endurance
