// Texts of a process table for other programs: RFC 4180 CSV and JSON, both UTF-8.
#pragma once

#include "watch/engine/process_row.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The fields of a process that leave psvigil, in this order.
enum class ProcessField
{
    User,
    Pid,
    Ppid,
    CpuUsage,
    MemUsage,
    Vsz,
    Rss,
    State,
    Term,
    StartTime,
    CpuTime,
    Command,
};
inline constexpr ProcessField kAllProcessFields[] = {
    ProcessField::User,     ProcessField::Pid,       ProcessField::Ppid,    ProcessField::CpuUsage,
    ProcessField::MemUsage, ProcessField::Vsz,       ProcessField::Rss,     ProcessField::State,
    ProcessField::Term,     ProcessField::StartTime, ProcessField::CpuTime, ProcessField::Command};

// The field's name in JSON and in the CSV header of psvigil-cli ("user", "pid", "ppid", "cpu",
// "mem", "vsz", "rss", "stat", "tty", "start", "time", "command").
const char* ProcessFieldKey(ProcessField field);
// The text as ps printed it.
std::string_view ProcessFieldText(const ProcessRow& row, ProcessField field);
// PID, PPID, CPU and memory shares and sizes: numbers in JSON.
bool IsNumericField(ProcessField field);

// The text with every malformed UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);
// One CSV field: quoted (quotes doubled) when it holds a comma, a quote, CR or LF.
std::string CsvField(std::string_view text);
// The fields joined by commas and ended by CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);
// A JSON string literal; control characters are escaped, so none reaches a terminal.
std::string JsonString(std::string_view text);
// A JSON number when numeric and the text is one as JSON writes numbers, null when the text
// is empty, otherwise a string.
std::string JsonValue(std::string_view text, bool numeric);
// "2026-12-09T01:23:45Z".
std::string IsoUtcTime(int64_t secondsSince1970);

// One process: a JSON object with every field, and a CSV record (with its header record).
std::string ProcessJsonObject(const ProcessRow& row);
std::string ProcessCsvHeader();
std::string ProcessCsvRecord(const ProcessRow& row);
