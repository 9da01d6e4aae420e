#pragma once
// The campaign's plot: one panel per series over the campaign's time, stacked, with the
// moments the controller was killed drawn as grey lines through every panel. Written as PNG.
#include <string>
#include <vector>

namespace endurance {

struct Series {
    std::string title;               // upper-case letters, digits and . - / % : ( )
    std::vector<double> t, value;    // seconds since the start, the value then
};

// Returns "" when written, else what went wrong.
std::string writePlot(const std::string& path, const std::vector<Series>& panels, const std::vector<double>& kills,
                      double duration);

} // namespace endurance
