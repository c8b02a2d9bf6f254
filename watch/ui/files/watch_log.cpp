// The watch log document (.pvg): marker 100, a row count, then each row's fields.
#include "watch/ui/files/watch_log.h"

#include "watch/engine/host_settings.h"
#include "watch/ui/files/atomic_file.h"

std::string WatchLogBytes(const COwningPtrArray<ProcessRow>& rows)
{
    CArchiveWriter out;
    out.WriteInt32(kWatchLogMarker);
    out.WriteInt32(rows.GetSize());
    for (int32_t i = 0; i < rows.GetSize(); ++i)
    {
        const ProcessRow& row = *rows.GetAt(i);
        out.WriteString(FieldText(row.User));
        out.WriteString(FieldText(row.PidText));
        out.WriteInt32(row.Pid);
        out.WriteString(FieldText(row.CpuUsage));
        out.WriteString(FieldText(row.Term));
        out.WriteString(FieldText(row.StartTime));
        out.WriteString(FieldText(row.CpuTime));
        out.WriteString(FieldText(row.Command));
    }
    return out.Bytes();
}

namespace
{
ArchiveStatus ReadRow(CArchiveReader& in, ProcessRow& row)
{
    ArchiveStatus s = in.ReadStringInto(row.User);
    if (s == ArchiveStatus::Ok)
        s = in.ReadStringInto(row.PidText);
    if (s == ArchiveStatus::Ok)
        s = in.ReadInt32(row.Pid);
    if (s == ArchiveStatus::Ok)
        s = in.ReadStringInto(row.CpuUsage);
    if (s == ArchiveStatus::Ok)
        s = in.ReadStringInto(row.Term);
    if (s == ArchiveStatus::Ok)
        s = in.ReadStringInto(row.StartTime);
    if (s == ArchiveStatus::Ok)
        s = in.ReadStringInto(row.CpuTime);
    if (s == ArchiveStatus::Ok)
        s = in.ReadStringInto(row.Command);
    return s;
}
} // namespace

ArchiveStatus ReadWatchLog(std::string_view bytes, const WatchLogRowSink& onRow)
{
    CArchiveReader in(bytes);
    int32_t marker = 0;
    int32_t count = 0;
    if (ArchiveStatus s = in.ReadInt32(marker); s != ArchiveStatus::Ok)
        return s;
    if (ArchiveStatus s = in.ReadInt32(count); s != ArchiveStatus::Ok)
        return s;
    // No writer stores a negative count; such a file is not a watch log, not an empty one.
    if (count < 0)
        return ArchiveStatus::BadFormat;
    // Nothing is reserved from the count: a damaged count runs into the end of the data.
    for (int32_t i = 0; i < count; ++i)
    {
        auto row = std::make_unique<ProcessRow>();
        if (ArchiveStatus s = ReadRow(in, *row); s != ArchiveStatus::Ok)
            return s;
        onRow(std::move(row));
    }
    return ArchiveStatus::Ok;
}

bool LoadWatchLogFile(const std::string& path, const WatchLogRowSink& onRow, std::string* error)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
    {
        if (error)
            *error = kFailedToOpenDocument;
        return false;
    }
    // Both kinds of damage read as a file this program did not write.
    if (ReadWatchLog(bytes, onRow) != ArchiveStatus::Ok)
    {
        if (error)
            *error = kUnexpectedFileFormat;
        return false;
    }
    return true;
}

bool SaveWatchLogFile(const std::string& path, const COwningPtrArray<ProcessRow>& rows,
                      std::string* error)
{
    if (WriteFileAtomically(path, WatchLogBytes(rows), kModeFromUmask))
        return true;
    if (error)
        *error = kFailedToSaveDocument;
    return false;
}
