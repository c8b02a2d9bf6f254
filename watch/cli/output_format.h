// The forms psvigil-cli writes tables in: tsv (the default), RFC 4180 CSV, and JSON.
#pragma once

#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"
#include "watch/ui/files/watch_log.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

enum class OutputFormat
{
    Tsv,
    Csv,
    Json,
};

// "tsv", "csv" or "json"; false for anything else.
bool ParseOutputFormat(std::string_view name, OutputFormat& format);
// "bsd", "sysv" or "posix"; false for anything else.
bool ParseFlavourName(std::string_view name, int32_t& flavour);

// A whole table. tsv: the rows as always; csv: a header record, then a record per process;
// json: one object with where and when the table was taken (null where source is null or a
// classic log) and "processes", an array of one object per process.
void PrintTable(std::FILE* out, const COwningPtrArray<ProcessRow>& rows, OutputFormat format,
                const WatchLogHeader* source);

// The header of a version-2 log as one line for a terminal: "# host ..., refreshed ...".
std::string LogHeaderLine(const WatchLogHeader& header);

// What one refresh of watch changed. tsv and csv: a line per row marked + (appeared), *
// (still there) or - (gone), csv with the header record before the first refresh; json: one
// line per refresh (JSON Lines) with where and when, the count, and the rows that appeared
// and those that are gone.
struct MarkedRow
{
    char Mark; // '+', '*' or '-'
    ProcessRow Row;
};
using RefreshChanges = std::vector<MarkedRow>;
void PrintRefreshChanges(std::FILE* out, OutputFormat format, const WatchLogHeader& source,
                         const RefreshChanges& changes, bool first);
