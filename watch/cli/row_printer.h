// Prints process rows as tab-separated lines for scripts.
#pragma once

#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"

#include <cstdio>

// One row a line: User, PID, Pid, CPU usage, Term, Start time, CPU time, Command.
void PrintRow(std::FILE* out, const ProcessRow& row);
void PrintRows(std::FILE* out, const COwningPtrArray<ProcessRow>& rows);
