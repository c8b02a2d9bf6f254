// File > Export: the table on display as CSV or JSON, for spreadsheets and scripts.
#pragma once

#include <string>

class CPsvigilView;

// The lines the grid shows (filter applied, processes already gone left out) in their order,
// with the visible columns in the header's order. Values are as ps printed them (RSS in KiB).
// CSV (RFC 4180, UTF-8): a header record of the headings, then one record per process.
// JSON: one object with where and when the table was taken and "processes", one object per
// process keyed like psvigil-cli's ("user", "pid", "rss", ...), numbers as numbers.
std::string GridExportText(const CPsvigilView& view, bool json);

// Replaces path with the export in one step; false when it cannot be written.
bool ExportGridFile(const CPsvigilView& view, const std::string& path, bool json);
