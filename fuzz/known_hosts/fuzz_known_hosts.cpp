// Fuzzes the known_hosts scan: any text, for a fixed name and for a name the input chooses.
#include "lanvex/net/sessions/known_hosts.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const std::string_view name : {std::string_view("example.org"), text.substr(0, 24)})
    {
        const lanvex::KnownHostsScan scan = lanvex::ScanKnownHosts(text, name);
        if (scan.Keys.size() > size || (scan.ProblemLine == 0) != scan.Problem.empty())
            __builtin_trap();
    }
    return 0;
}
