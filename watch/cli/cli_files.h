// Reading the files psvigil-cli is pointed at: regular files only, and never more than a cap.
#pragma once

#include <cstddef>
#include <string>

// Caps on what each kind of file may hold.
inline constexpr std::size_t kPasswordFileCap = 1024;
inline constexpr std::size_t kHostListFileCap = 16u << 20;
inline constexpr std::size_t kWatchLogFileCap = 256u << 20;

// Reads path into bytes when it is a regular file of at most cap bytes. A FIFO, a device or a
// directory is refused without blocking on it; a file over the cap is refused unless
// takePrefix is set, in which case its first cap bytes are read. On failure error says why.
bool ReadBoundedFile(const std::string& path, std::size_t cap, bool takePrefix, std::string& bytes,
                     std::string& error);

// The first line of bytes without its line end ("\n" or "\r\n").
std::string FirstLine(const std::string& bytes);
