// An SFTP directory entry written as the line a Unix FTP server lists it with, so that the file
// operation reads both protocols' listings with one reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lanvex
{

// "-rw-r--r--    1 0 0 SIZE Jan 01 00:00 NAME\r\n" ('d' for a directory). No line for a name
// that would not read back as itself (a line end, a zero byte, a link arrow, blanks at the end, no
// name at all) or a size no file has (negative, or 2^59 and more).
std::optional<std::string> SftpListingLine(std::string_view name, int64_t nSize, bool bDirectory);

} // namespace lanvex
