// Fuzzes the reader of the network connection name: the input is what "my_zolt" prints
// (a stand-in first on PATH prints the file). The name shown stays terminated in its 32
// bytes, holds no line end or tab, and is text the program printed ("No Conn" when it
// printed nothing).
#include "config/network.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

void installStandIn()
{
    static const bool installed = [] {
        const std::string bin = fuzz::scratchRoot() + "/bin";
        std::filesystem::create_directories(bin);
        const std::string script = bin + "/my_zolt";
        std::ofstream(script) << "#!/bin/sh\nexec cat \"$AMPCTL_ROOT/zolt.out\"\n";
        chmod(script.c_str(), 0755);
        const char* path = std::getenv("PATH");
        setenv("PATH", (bin + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
        return true;
    }();
    (void)installed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    installStandIn();
    fuzz::writeSettings("zolt.out", data, size);
    auto works = fuzz::freshWorks();
    ReadLANconnection(works.get());

    const char* name = works->lanConnection;
    const void* end = memchr(name, '\0', sizeof works->lanConnection);
    if (end == nullptr)
        fuzz::fail("connection name without its terminating zero");
    const std::string shown(name, static_cast<const char*>(end));
    if (shown.find_first_of("\n\t") != std::string::npos)
        fuzz::fail("connection name holds a line end or tab");
    const std::string printed(reinterpret_cast<const char*>(data), size);
    if (size == 0 ? shown != "No Conn" : printed.find(shown) == std::string::npos)
        fuzz::fail("connection name \"%s\" is not in what my_zolt printed", shown.c_str());
    return 0;
}
