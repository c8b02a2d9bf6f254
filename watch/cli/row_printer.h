// Prints process rows as tab-separated lines for scripts.
#pragma once

#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"

#include <cstdio>
#include <string>
#include <string_view>

// The text with control characters written as escapes (\t, \n, \r, \\ and \xHH), so that a
// field never splits a row or reaches the terminal as a control sequence.
std::string EscapeField(std::string_view text);

// One row a line: User, PID, Pid, CPU usage, Term, Start time, CPU time, Command.
void PrintRow(std::FILE* out, const ProcessRow& row);
void PrintRows(std::FILE* out, const COwningPtrArray<ProcessRow>& rows);
