// Any watch log bytes: rows keep their texts inside their fields and survive a round trip.
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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    COwningPtrArray<ProcessRow> rows;
    ReadWatchLog(bytes,
                 [&](std::unique_ptr<ProcessRow> row)
                 {
                     CheckTerminated(row->User);
                     CheckTerminated(row->PidText);
                     CheckTerminated(row->CpuUsage);
                     CheckTerminated(row->Term);
                     CheckTerminated(row->StartTime);
                     CheckTerminated(row->CpuTime);
                     CheckTerminated(row->Command);
                     if (row->State != kRowNew)
                         std::abort();
                     rows.Add(row.release());
                 });
    // What was read writes back and reads again to the same rows (up to each terminator).
    const std::string written = WatchLogBytes(rows);
    int32_t index = 0;
    const ArchiveStatus status =
        ReadWatchLog(written,
                     [&](std::unique_ptr<ProcessRow> row)
                     {
                         const ProcessRow& first = *rows.GetAt(index++);
                         if (std::strcmp(first.User, row->User) != 0 ||
                             std::strcmp(first.Command, row->Command) != 0 || first.Pid != row->Pid)
                             std::abort();
                     });
    if (status != ArchiveStatus::Ok || index != rows.GetSize())
        std::abort();
    return 0;
}
