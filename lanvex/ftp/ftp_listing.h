// A directory listing as the server sends it, read into file entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

// One listing line. The fixed fields keep their historical widths (a longer word is cut, never
// splitting a UTF-8 character); the full name and size are kept besides for IlvFTPClient2.
struct FtpFileEntry
{
    char Permissions[12] = {};
    int32_t Links = 0;
    char Owner[20] = {};
    char Group[20] = {};
    int32_t Size = 0;
    char Month[4] = {};
    char Day[3] = {};
    char TimeOrYear[6] = {};
    char Name[43] = {};

    std::string FullName; // the name with its blanks; a link's target left off
    int64_t FullSize = 0;
    bool HasSize = false; // the line had a size field
    bool IsDirectory = false;
};
static_assert(sizeof FtpFileEntry::Name == 43, "GetFileName's callers pass 43-byte buffers");

// Appends one entry per line of text to *pEntries. Lines end in CR LF, a bare LF or a bare CR; a
// last line without its end is an entry too, and every line counts, whatever it holds (the
// "total" line of a long listing becomes an entry whose permissions read "total").
// Names-only: the name is the line's first word. Long: the words are read in field order and
// reading stops at the first one that does not match (a number field that holds no number).
// At most nMaxEntries are appended (an entry costs far more memory than its line); false when
// lines were left over.
bool ParseFtpListing(std::string_view text, bool bNamesOnly, std::vector<FtpFileEntry>* pEntries,
                     size_t nMaxEntries = SIZE_MAX);

} // namespace lanvex
