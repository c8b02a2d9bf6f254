// Replacing a file in one step: write a temporary file beside it, flush it, rename it over.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// Writes bytes to path through a temporary file in the same directory and renames it over the
// old file, so a reader sees the old or the new content, never a half-written file. mode gives
// the new file's permission bits; kModeFromUmask means 0666 less the process umask. Returns
// false (and leaves the old file alone) when anything fails; errnoOut receives the cause.
constexpr mode_t kModeFromUmask = static_cast<mode_t>(-1);
bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         int* errnoOut = nullptr);

// Reads a whole file. Returns false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
