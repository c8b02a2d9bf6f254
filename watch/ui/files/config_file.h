// The host list file psvigil.cfg: an int32 count, then that many 252-byte host records.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/owning_array.h"

#include <cstdint>
#include <string>
#include <string_view>

// Looked up in, and written to, the current directory.
inline constexpr char kConfigFileName[] = "psvigil.cfg";

// A count larger than the records present is honoured with records of defaults, but only up
// to this many beyond the ones the file holds, so a damaged count cannot exhaust memory.
inline constexpr int32_t kMaxDefaultedHostRecords = 256;

// What a read found, for callers that want to tell a damaged file from a good one.
struct HostListReadReport
{
    bool Opened = false;         // the file existed and could be read
    bool CountRead = false;      // the 4-byte count was there
    int32_t StoredCount = 0;     // the count as stored
    int32_t CompleteRecords = 0; // records present in full
    bool Truncated = false;      // fewer bytes than the count promised
    bool CountBounded = false;   // the count was cut down to kMaxDefaultedHostRecords extra
};

// Fills hosts (emptied first) from the file's bytes: a count that is missing, 0 or negative
// gives an empty list; each record starts with the defaults and takes as many of its 252
// bytes as the file holds.
HostListReadReport ParseHostList(std::string_view bytes, COwningPtrArray<HostSettings>& hosts);

// Reads path into hosts; a file that cannot be opened leaves the list empty.
HostListReadReport ReadHostListFile(const std::string& path, COwningPtrArray<HostSettings>& hosts);

// The file image of a host list.
std::string HostListBytes(const COwningPtrArray<HostSettings>& hosts);

// Replaces path with the host list in one step (temporary file and rename), readable and
// writable by the owner only, since records hold passwords. Returns false when nothing could
// be written; the old file then stays as it was.
bool WriteHostListFile(const std::string& path, const COwningPtrArray<HostSettings>& hosts);
