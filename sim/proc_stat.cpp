#include "proc_stat.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace sim {

double procCpuSeconds(const std::string& statPath, bool withReapedChildren, std::string* name)
{
    std::ifstream in(statPath);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The name is in parentheses; the fields are counted after its last ')'.
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 2 > text.size())
        return -1;
    if (name)
        *name = text.substr(open + 1, close - open - 1);
    std::istringstream fields(text.substr(close + 2));
    const int last = withReapedChildren ? 17 : 15;
    std::string field;
    double ticks = 0;
    int i = 3;
    for (; i <= last && fields >> field; ++i) {
        if (i >= 14)
            ticks += std::strtod(field.c_str(), nullptr);
    }
    if (i <= last)
        return -1;
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace sim
