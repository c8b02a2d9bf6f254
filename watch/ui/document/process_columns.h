// The grid's columns: heading, starting width, the text a row shows, and how the column sorts.
#pragma once

#include "watch/engine/process_row.h"

#include <QDate>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// How a column orders its texts.
enum class ESortKind
{
    Text,      // by the locale (QCollator), digits as numbers
    Number,    // PID, CPU Usage, counts
    Duration,  // CPU time: BSD "M:SS.ss", SysV "[D-]HH:MM:SS"
    StartTime, // "10:02", "10:02AM", "Tue10AM", "Dec07", "7Dec25", "2025", SysV "Nov 30"
};

struct ProcessColumn
{
    const char* Heading;
    // Pixels for the classic 8-point dialog font (6-pixel average character); the view
    // scales them to its own font.
    int ClassicWidth;
    std::string_view (*Text)(const ProcessRow& row);
    ESortKind Sort;
};

// The columns in display order. A new column is one more row of this table.
std::span<const ProcessColumn> ProcessColumns();
int ProcessColumnCount();
// The column with this heading, or -1.
int ProcessColumnOf(std::string_view heading);

// The text a column shows of a row (empty for a column that does not exist).
std::string_view ProcessCellText(const ProcessRow& row, int column);

// Numeric sort keys; nullopt for a text that is not of the kind (such texts sort last).
std::optional<double> NumberKey(std::string_view text);
// Seconds.
std::optional<double> DurationKey(std::string_view text);
// Minutes since an arbitrary epoch, read against today's date: a bare time of day is today,
// a month and day without a year is this year (or last year when it lies after today), a
// weekday is within the last week, a year alone is that year's first day.
std::optional<double> StartTimeKey(std::string_view text, const QDate& today);
