#pragma once
// What the campaign runner reads in the controller's standard error, line by line (the
// system log of a simulated unit is copied there as "syslog[prio]: text" lines, so this is
// the whole log): the error list as the controller reports its changes ("Add: N: 2 err:9",
// "Del ERROR: N: 1 err:9", "Del temp err: 4 (0 , 1)"), the keys the button dispatcher took
// ("key 6 on bar 0: ..."), sanitizer reports, and the number of lines in each second with
// the lines that make them (digits folded, so "BUFFER Wsocket 1234" and "... 1250" count
// as one kind of line; blank lines are not counted).
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace endurance {

// A key the dispatcher took: "key K[ (long)] on bar B: name".
struct KeySeen {
    int key = 0;
    int bar = -1;
    bool longPress = false;
};

class ControllerLog {
public:
    // Feeds the text that came after what was fed before (any split, lines may be cut);
    // `now` is the campaign's second the text was read at.
    void feed(std::string_view text, double now);
    // A new controller: the error list is empty again, a cut line is dropped.
    void restart();

    const std::set<int>& errors() const { return errors_; }
    bool hasError(int code) const { return errors_.count(code) != 0; }
    // Keys taken since the last call.
    std::vector<KeySeen> takeKeys();
    // Lines containing `text` since the last restart.
    size_t count(std::string_view text) const;
    // The first sanitizer report line, "" while there is none.
    const std::string& sanitizerLine() const { return sanitizer_; }

    // Lines counted in each whole second of the campaign (index = second).
    const std::vector<unsigned>& linesPerSecond() const { return perSecond_; }
    // The most frequent kinds of line (digits folded), most first, with their counts.
    std::vector<std::pair<std::string, size_t>> topLines(size_t n) const;
    size_t totalLines() const { return total_; }

    // A line's kind: every run of digits becomes "#", the syslog prefix stays.
    static std::string kindOf(std::string_view line);

private:
    void line(std::string_view l, double now);

    std::string partial_;
    std::set<int> errors_;
    std::vector<KeySeen> keys_;
    std::string generation_;
    std::map<std::string, size_t> kinds_;
    std::vector<unsigned> perSecond_;
    std::string sanitizer_;
    size_t total_ = 0;
};

} // namespace endurance
