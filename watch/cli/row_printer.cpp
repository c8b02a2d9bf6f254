// Prints process rows as tab-separated lines for scripts.
#include "watch/cli/row_printer.h"

void PrintRow(std::FILE* out, const ProcessRow& row)
{
    std::fprintf(out, "%s\t%s\t%d\t%s\t%s\t%s\t%s\t%s\n", row.User, row.PidText, row.Pid,
                 row.CpuUsage, row.Term, row.StartTime, row.CpuTime, row.Command);
}

void PrintRows(std::FILE* out, const COwningPtrArray<ProcessRow>& rows)
{
    for (int32_t i = 0; i < rows.GetSize(); ++i)
        PrintRow(out, *rows.GetAt(i));
}
