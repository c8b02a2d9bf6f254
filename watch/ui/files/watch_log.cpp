// The watch log document (.pvg): marker 100, then the classic rows or a version-2 header and
// rows with every field.
#include "watch/ui/files/watch_log.h"

#include "watch/engine/host_settings.h"
#include "watch/engine/text_field.h"
#include "watch/ui/files/atomic_file.h"

namespace
{
constexpr int32_t kVersion2Tag = -2;
constexpr std::size_t kAddressLimit = sizeof(HostSettings::Address) - 1;

void WriteClassicFields(CArchiveWriter& out, const ProcessRow& row)
{
    out.WriteString(FieldText(row.User));
    out.WriteString(FieldText(row.PidText));
    out.WriteInt32(row.Pid);
    out.WriteString(FieldText(row.CpuUsage));
    out.WriteString(FieldText(row.Term));
    out.WriteString(FieldText(row.StartTime));
    out.WriteString(FieldText(row.CpuTime));
    out.WriteString(FieldText(row.Command));
}

void WriteNewFields(CArchiveWriter& out, const ProcessRow& row)
{
    out.WriteString(FieldText(row.MemUsage));
    out.WriteString(FieldText(row.Vsz));
    out.WriteString(FieldText(row.Rss));
    out.WriteString(FieldText(row.ProcessState));
    out.WriteString(FieldText(row.PpidText));
    out.WriteInt32(row.Ppid);
}

// Reads the fields in order and stops at the first failure.
class CRowReader
{
  public:
    explicit CRowReader(CArchiveReader& in) : m_in(in) {}
    template <std::size_t N> CRowReader& Text(char (&field)[N])
    {
        if (m_status == ArchiveStatus::Ok)
            m_status = m_in.ReadStringInto(field);
        return *this;
    }
    CRowReader& Int(int32_t& value)
    {
        if (m_status == ArchiveStatus::Ok)
            m_status = m_in.ReadInt32(value);
        return *this;
    }
    ArchiveStatus Status() const { return m_status; }

  private:
    CArchiveReader& m_in;
    ArchiveStatus m_status = ArchiveStatus::Ok;
};

ArchiveStatus ReadRow(CArchiveReader& in, ProcessRow& row, int32_t version)
{
    CRowReader r(in);
    r.Text(row.User).Text(row.PidText).Int(row.Pid).Text(row.CpuUsage).Text(row.Term);
    r.Text(row.StartTime).Text(row.CpuTime).Text(row.Command);
    if (version >= 2)
        r.Text(row.MemUsage)
            .Text(row.Vsz)
            .Text(row.Rss)
            .Text(row.ProcessState)
            .Text(row.PpidText)
            .Int(row.Ppid);
    return r.Status();
}

bool InRange(int64_t value, int64_t low, int64_t high)
{
    return value >= low && value <= high;
}

ArchiveStatus ReadHeader(CArchiveReader& in, WatchLogHeader& header)
{
    ArchiveStatus s = in.ReadBoundedString(header.Address, kAddressLimit);
    if (s == ArchiveStatus::Ok)
        s = in.ReadInt32(header.Port);
    if (s == ArchiveStatus::Ok)
        s = in.ReadInt32(header.Transport);
    if (s == ArchiveStatus::Ok)
        s = in.ReadInt32(header.Flavour);
    if (s == ArchiveStatus::Ok)
        s = in.ReadInt64(header.RefreshTime);
    if (s != ArchiveStatus::Ok)
        return s;
    const bool valid = InRange(header.Port, 0, 65535) &&
                       InRange(header.Transport, kTransportTelnet, kTransportLocal) &&
                       InRange(header.Flavour, kFlavourBsd, kFlavourPosix) &&
                       InRange(header.RefreshTime, 0, kLatestRefreshTime);
    return valid ? ArchiveStatus::Ok : ArchiveStatus::BadFormat;
}
} // namespace

const char* TransportName(int32_t transport)
{
    switch (transport)
    {
    case kTransportTelnet:
        return "telnet";
    case kTransportSsh:
        return "ssh";
    case kTransportLocal:
        return "local";
    default:
        return "unknown";
    }
}

WatchLogHeader LogHeaderFor(const HostSettings& host, bool secureShell, int64_t refreshTime)
{
    WatchLogHeader header;
    header.Address = std::string(FieldText(host.Address));
    header.Port = host.Port;
    header.Transport = secureShell ? kTransportSsh : kTransportTelnet;
    header.Flavour = EffectiveFlavour(host.Flavour);
    header.RefreshTime = refreshTime;
    return header;
}

std::string WatchLogBytes(const COwningPtrArray<ProcessRow>& rows)
{
    return WatchLogBytes(rows, UnknownSource());
}

std::string WatchLogBytes(const COwningPtrArray<ProcessRow>& rows, const WatchLogHeader& header)
{
    const bool classic = header.Version < 2;
    CArchiveWriter out;
    out.WriteInt32(kWatchLogMarker);
    if (!classic)
    {
        out.WriteInt32(kVersion2Tag);
        out.WriteString(std::string_view(header.Address)
                            .substr(0, Utf8FitLength(header.Address, kAddressLimit)));
        out.WriteInt32(header.Port);
        out.WriteInt32(header.Transport);
        out.WriteInt32(header.Flavour);
        out.WriteInt64(header.RefreshTime);
    }
    out.WriteInt32(rows.GetSize());
    for (int32_t i = 0; i < rows.GetSize(); ++i)
    {
        WriteClassicFields(out, *rows.GetAt(i));
        if (!classic)
            WriteNewFields(out, *rows.GetAt(i));
    }
    return out.Bytes();
}

ArchiveStatus ReadWatchLog(std::string_view bytes, const WatchLogRowSink& onRow,
                           WatchLogHeader* pHeader)
{
    CArchiveReader in(bytes);
    WatchLogHeader header = UnknownSource();
    int32_t marker = 0;
    int32_t count = 0;
    if (ArchiveStatus s = in.ReadInt32(marker); s != ArchiveStatus::Ok)
        return s;
    if (ArchiveStatus s = in.ReadInt32(count); s != ArchiveStatus::Ok)
        return s;
    // A classic reader refuses a negative count, so the tag of version 2 could never have
    // opened as a classic log.
    if (count == kVersion2Tag)
    {
        header.Version = 2;
        if (ArchiveStatus s = ReadHeader(in, header); s != ArchiveStatus::Ok)
            return s;
        if (ArchiveStatus s = in.ReadInt32(count); s != ArchiveStatus::Ok)
            return s;
    }
    if (pHeader)
        *pHeader = header;
    // No writer stores a negative count; such a file is not a watch log, not an empty one.
    if (count < 0)
        return ArchiveStatus::BadFormat;
    // Nothing is reserved from the count: a damaged count runs into the end of the data.
    for (int32_t i = 0; i < count; ++i)
    {
        auto row = std::make_unique<ProcessRow>();
        if (ArchiveStatus s = ReadRow(in, *row, header.Version); s != ArchiveStatus::Ok)
            return s;
        onRow(std::move(row));
    }
    // Classic logs were never held to their length; a version-2 log ends with its last row.
    if (header.Version >= 2 && in.Remaining() != 0)
        return ArchiveStatus::BadFormat;
    return ArchiveStatus::Ok;
}

bool LoadWatchLogFile(const std::string& path, const WatchLogRowSink& onRow, std::string* error,
                      WatchLogHeader* header)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
    {
        if (error)
            *error = kFailedToOpenDocument;
        return false;
    }
    // Both kinds of damage read as a file this program did not write.
    if (ReadWatchLog(bytes, onRow, header) != ArchiveStatus::Ok)
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
    return SaveWatchLogFile(path, rows, UnknownSource(), error);
}

bool SaveWatchLogFile(const std::string& path, const COwningPtrArray<ProcessRow>& rows,
                      const WatchLogHeader& header, std::string* error)
{
    if (WriteFileAtomically(path, WatchLogBytes(rows, header), kModeFromUmask))
        return true;
    if (error)
        *error = kFailedToSaveDocument;
    return false;
}
