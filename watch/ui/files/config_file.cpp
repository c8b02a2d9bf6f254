// The host list file psvigil.cfg: an int32 count, then that many 252-byte host records.
#include "watch/ui/files/config_file.h"

#include "watch/ui/files/atomic_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

static_assert(std::endian::native == std::endian::little,
              "host records are stored as their native little-endian image");

namespace
{
constexpr std::size_t kRecordSize = sizeof(HostSettings);
static_assert(kRecordSize == 252);
} // namespace

HostListReadReport ParseHostList(std::string_view bytes, COwningPtrArray<HostSettings>& hosts)
{
    HostListReadReport report;
    report.Opened = true;
    hosts.RemoveAll();
    if (bytes.size() < sizeof(int32_t))
        return report;
    int32_t count = 0;
    std::memcpy(&count, bytes.data(), sizeof(count));
    report.CountRead = true;
    report.StoredCount = count;
    if (count <= 0)
        return report;

    const std::string_view body = bytes.substr(sizeof(int32_t));
    const std::size_t present = (body.size() + kRecordSize - 1) / kRecordSize;
    report.CompleteRecords =
        static_cast<int32_t>(std::min<std::size_t>(body.size() / kRecordSize, INT32_MAX));
    report.Truncated = static_cast<uint64_t>(count) * kRecordSize > body.size();
    const uint64_t limit = static_cast<uint64_t>(present) + kMaxDefaultedHostRecords;
    if (static_cast<uint64_t>(count) > limit)
    {
        count = static_cast<int32_t>(limit);
        report.CountBounded = true;
    }

    for (int32_t i = 0; i < count; ++i)
    {
        auto host = std::make_unique<HostSettings>();
        const std::size_t offset = static_cast<std::size_t>(i) * kRecordSize;
        if (offset < body.size())
        {
            // A record cut short keeps the defaults in its missing bytes.
            const std::size_t n = std::min(kRecordSize, body.size() - offset);
            std::memcpy(reinterpret_cast<char*>(host.get()), body.data() + offset, n);
        }
        hosts.Add(host.release());
    }
    return report;
}

HostListReadReport ReadHostListFile(const std::string& path, COwningPtrArray<HostSettings>& hosts)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
    {
        hosts.RemoveAll();
        return {};
    }
    return ParseHostList(bytes, hosts);
}

std::string HostListBytes(const COwningPtrArray<HostSettings>& hosts)
{
    const int32_t count = hosts.GetSize();
    std::string bytes(sizeof(int32_t) + static_cast<std::size_t>(count) * kRecordSize, '\0');
    std::memcpy(bytes.data(), &count, sizeof(count));
    for (int32_t i = 0; i < count; ++i)
        std::memcpy(bytes.data() + sizeof(int32_t) + static_cast<std::size_t>(i) * kRecordSize,
                    hosts.GetAt(i), kRecordSize);
    return bytes;
}

bool WriteHostListFile(const std::string& path, const COwningPtrArray<HostSettings>& hosts)
{
    return WriteFileAtomically(path, HostListBytes(hosts), 0600);
}
