// Fuzzes the registration script reader: macro expansion and parsing of arbitrary text.
#include "lanvex/net/transport/registry_script.h"

#include <cstdlib>
#include <string>

namespace
{

size_t CountKeys(const lanvex::RegScriptKey& key, int nDepth)
{
    if (nDepth > 64)
        std::abort(); // the reader bounds nesting well below this
    size_t n = 1;
    for (const auto& sub : key.Subkeys)
    {
        if (sub.Name.empty())
            std::abort();
        n += CountKeys(sub, nDepth + 1);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string expanded, error;
    if (!lanvex::ExpandScriptMacros(text, {{"MODULE", "/tmp/it's/libLanvex.so"}}, &expanded,
                                    &error))
        expanded = text;
    lanvex::RegScript script;
    if (lanvex::ParseRegScript(expanded, &script, &error))
    {
        for (const auto& root : script.Roots)
            CountKeys(root, 0);
    }
    else if (error.empty())
    {
        std::abort(); // a failure always says why
    }
    return 0;
}
