// The watch log document (.pvg): marker 100, then the classic rows or a version-2 header and
// rows with every field.
#pragma once

#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"
#include "watch/ui/files/archive_stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

inline constexpr int32_t kWatchLogMarker = 100;

// Messages of the document's file handling, as the user reads them.
inline constexpr char kUnexpectedFileFormat[] = "Unexpected file format.";
inline constexpr char kFailedToOpenDocument[] = "Failed to open document.";
inline constexpr char kFailedToSaveDocument[] = "Failed to save document.";

// How the host was reached.
inline constexpr int32_t kTransportTelnet = 0;
inline constexpr int32_t kTransportSsh = 1;
inline constexpr int32_t kTransportLocal = 2;
// "telnet", "ssh" or "local"; "unknown" for any other value.
const char* TransportName(int32_t transport);

// The latest refresh time a log may carry: 9999-12-31T23:59:59Z.
inline constexpr int64_t kLatestRefreshTime = 253402300799;

// Where and when a table was taken. A version-1 (classic) log records none of it.
struct WatchLogHeader
{
    int32_t Version = 2;
    std::string Address; // at most 127 bytes, as in a host record
    int32_t Port = 0;
    int32_t Transport = kTransportTelnet;
    int32_t Flavour = 0;     // 0 BSD, 1 SysV, 2 POSIX (-o)
    int64_t RefreshTime = 0; // seconds since 1970-01-01 UTC; 0 when not known
};

// The header of a table nobody recorded the source of (a classic log, a new document).
inline WatchLogHeader UnknownSource()
{
    WatchLogHeader header;
    header.Version = 1;
    return header;
}

struct HostSettings;
// The header of a table just refreshed from host, reached over SSH or not.
WatchLogHeader LogHeaderFor(const HostSettings& host, bool secureShell, int64_t refreshTime);

// The classic image: marker, count, then per row User, PidText, Pid, CpuUsage, Term,
// StartTime, CpuTime, Command. State is not stored. Earlier readers open only this form.
std::string WatchLogBytes(const COwningPtrArray<ProcessRow>& rows);
// The image header.Version asks for: 1 the classic one; 2 marker, the version tag -2 (a count
// no classic reader accepts), the header, the count, and rows with the classic fields followed
// by MemUsage, Vsz, Rss, ProcessState, PpidText and Ppid.
std::string WatchLogBytes(const COwningPtrArray<ProcessRow>& rows, const WatchLogHeader& header);

// Reads a watch log of either version, handing each row to onRow as soon as it is complete.
// The marker is read and ignored. Rows handed over before a failure stay with the caller.
// Returns Ok, EndOfFile when the data ends early, or BadFormat for a value no writer stores
// (a version-2 file is held to every field of its header and to its exact length). header,
// when given, receives the header (Version 1 and nothing else for a classic log).
using WatchLogRowSink = std::function<void(std::unique_ptr<ProcessRow>)>;
ArchiveStatus ReadWatchLog(std::string_view bytes, const WatchLogRowSink& onRow,
                           WatchLogHeader* header = nullptr);

// File forms. On failure error receives the message to show.
bool LoadWatchLogFile(const std::string& path, const WatchLogRowSink& onRow, std::string* error,
                      WatchLogHeader* header = nullptr);
// The file is replaced in one step, so a failed save never leaves half a log behind. Without
// a header the classic form is written.
bool SaveWatchLogFile(const std::string& path, const COwningPtrArray<ProcessRow>& rows,
                      std::string* error);
bool SaveWatchLogFile(const std::string& path, const COwningPtrArray<ProcessRow>& rows,
                      const WatchLogHeader& header, std::string* error);
