// An SFTP directory entry as a Unix FTP listing line.
#include "lanvex/ftp/sftp_listing.h"

namespace lanvex
{

namespace
{

// Far beyond any file; a listing reader stops counting there.
constexpr int64_t kMaxListedSize = int64_t{1} << 59;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

} // namespace

std::optional<std::string> SftpListingLine(std::string_view name, int64_t nSize, bool bDirectory)
{
    // The server's names are outside input: one that could end the line, or that a listing
    // reader would cut, is left out rather than read as some other name.
    if (name.empty() || IsBlank(name.back()) ||
        name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos ||
        name.find(" -> ") != std::string_view::npos || nSize < 0 || nSize >= kMaxListedSize)
        return std::nullopt;
    std::string line = bDirectory ? "drwxr-xr-x" : "-rw-r--r--";
    line += "    1 0        0        ";
    line += std::to_string(nSize);
    line += " Jan 01 00:00 ";
    line.append(name);
    line += "\r\n";
    return line;
}

} // namespace lanvex
