// Fuzzes the hive reader: any bytes either fail cleanly or give a hive whose text reads back equal.
#include "platform/com/registry_hive.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CRegistryHive hive;
    std::string error;
    if (!CRegistryHive::Parse(text, &hive, &error))
    {
        if (error.empty())
            std::abort(); // a refusal must say why
        return 0;
    }
    // What we write, we must read back to the same hive.
    std::string once = hive.Serialize();
    CRegistryHive again;
    if (!CRegistryHive::Parse(once, &again, &error) || again.Serialize() != once)
        std::abort();
    return 0;
}
