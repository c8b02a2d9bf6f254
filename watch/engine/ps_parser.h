// Turns a host's raw ps reply into process rows.
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"

#include <cstdint>

// Replaces the content of rows with the process lines found in text. The text is split in
// place (NUL bytes are written into it), so it must be writable and is no longer usable as
// text afterwards. A length of zero or less reads nothing. BSD rows carry %MEM, VSZ, RSS and
// STAT, SysV rows the PPID, POSIX (-o) rows all of them.
void ParsePsReply(COwningPtrArray<ProcessRow>& rows, char* text, int32_t length, int32_t flavour,
                  int32_t filterMode);
