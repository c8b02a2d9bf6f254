// Any psvigil.cfg bytes: the list stays bounded and the records written back read the same.
#include "watch/ui/files/config_file.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    COwningPtrArray<HostSettings> hosts;
    const HostListReadReport report = ParseHostList(bytes, hosts);
    const size_t present = size > 4 ? (size - 4 + 251) / 252 : 0;
    if (static_cast<size_t>(hosts.GetSize()) > present + kMaxDefaultedHostRecords)
        std::abort();
    if (report.CountRead && report.StoredCount <= 0 && hosts.GetSize() != 0)
        std::abort();

    const std::string written = HostListBytes(hosts);
    COwningPtrArray<HostSettings> again;
    ParseHostList(written, again);
    if (again.GetSize() != hosts.GetSize())
        std::abort();
    for (int32_t i = 0; i < hosts.GetSize(); ++i)
        if (std::memcmp(hosts.GetAt(i), again.GetAt(i), sizeof(HostSettings)) != 0)
            std::abort();
    return 0;
}
