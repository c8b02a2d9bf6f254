// Any watch log bytes, classic or version 2: rows keep their texts inside their fields, and
// what was read writes back in the same version and reads again to the same header and rows.
#include "watch/ui/files/watch_log.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{
template <std::size_t N> void CheckTerminated(const char (&field)[N])
{
    if (std::memchr(field, '\0', N) == nullptr)
        std::abort();
}

void CheckRow(const ProcessRow& row)
{
    CheckTerminated(row.User);
    CheckTerminated(row.PidText);
    CheckTerminated(row.CpuUsage);
    CheckTerminated(row.Term);
    CheckTerminated(row.StartTime);
    CheckTerminated(row.CpuTime);
    CheckTerminated(row.Command);
    CheckTerminated(row.MemUsage);
    CheckTerminated(row.Vsz);
    CheckTerminated(row.Rss);
    CheckTerminated(row.ProcessState);
    CheckTerminated(row.PpidText);
    if (row.State != kRowNew)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    COwningPtrArray<ProcessRow> rows;
    WatchLogHeader header;
    const ArchiveStatus first = ReadWatchLog(
        bytes,
        [&](std::unique_ptr<ProcessRow> row)
        {
            CheckRow(*row);
            rows.Add(row.release());
        },
        &header);
    // A header that was refused is never handed back for writing.
    if (first == ArchiveStatus::Ok && header.Version == 2 &&
        (header.Address.size() > 127 || header.Flavour < 0 || header.Flavour > 2 ||
         header.Transport < 0 || header.Transport > 2 || header.RefreshTime < 0))
        std::abort();
    if (first != ArchiveStatus::Ok)
        header = WatchLogHeader{}; // a partial header may hold anything; write a sound one
    const std::string written = WatchLogBytes(rows, header);
    int32_t index = 0;
    WatchLogHeader again;
    const ArchiveStatus status = ReadWatchLog(
        written,
        [&](std::unique_ptr<ProcessRow> row)
        {
            const ProcessRow& before = *rows.GetAt(index++);
            if (std::strcmp(before.User, row->User) != 0 ||
                std::strcmp(before.Command, row->Command) != 0 || before.Pid != row->Pid)
                std::abort();
            if (header.Version == 2 &&
                (std::strcmp(before.Rss, row->Rss) != 0 || before.Ppid != row->Ppid))
                std::abort();
        },
        &again);
    if (status != ArchiveStatus::Ok || index != rows.GetSize() || again.Version != header.Version ||
        again.Address != header.Address || again.RefreshTime != header.RefreshTime)
        std::abort();
    return 0;
}
