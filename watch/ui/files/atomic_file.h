// Replacing a file in one step: write a temporary file beside it, flush it, rename it over.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// Writes bytes to path through a temporary file in the same directory and renames it over the
// old file, so a reader sees the old or the new content, never a half-written file. A symbolic
// link is followed: the file it names is replaced, beside itself, and the link stays. Where
// that folder takes no new file, the file is rewritten in place instead. mode gives the new
// file's permission bits; kModeFromUmask means 0666 less the process umask. Returns false when
// anything fails (the old file is then left alone, unless it was being rewritten in place);
// errnoOut receives the cause.
constexpr mode_t kModeFromUmask = static_cast<mode_t>(-1);
bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         int* errnoOut = nullptr);

// The file a chain of symbolic links ends at (path itself when it is no link). A relative link
// is read from the folder of the link. Empty for a loop or a chain longer than 40 links.
std::string FinalLinkTarget(const std::string& path);

// Opens path (open(2) flags and the mode of a file it creates) without waiting, and keeps it only
// when it is a regular file: a FIFO or a device in its place is refused (cause EINVAL) instead of
// holding the open or a read for ever. Returns the descriptor (close-on-exec, blocking again), or
// -1 with *cause the reason.
int OpenRegularFile(const std::string& path, int flags, mode_t mode, int* cause);

// Reads a whole file. Returns false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
