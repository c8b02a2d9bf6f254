// The grid's columns: heading, starting width, the text a row shows, and how the column sorts.
#pragma once

#include "watch/engine/process_row.h"

#include <QDate>
#include <QString>

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
    // The text as ps printed it: what sorts, filters and leaves by File > Export.
    std::string_view (*Text)(const ProcessRow& row);
    ESortKind Sort;
    // What the cell shows when it is not the text itself (RSS in human units).
    QString (*Display)(const ProcessRow& row) = nullptr;
    // Flavours whose ps sends the column (bits 1 << Flavour); a column the watched flavour
    // does not send starts hidden.
    unsigned Flavours = 0b111;
};

// The columns in display order. A new column is one more row of this table.
std::span<const ProcessColumn> ProcessColumns();
int ProcessColumnCount();
// The column with this heading, or -1.
int ProcessColumnOf(std::string_view heading);

// The text of a row in a column as ps printed it (empty for a column that does not exist).
std::string_view ProcessCellText(const ProcessRow& row, int column);
// What the cell shows.
QString ProcessCellDisplay(const ProcessRow& row, int column);
// A tool tip that explains the cell (the State letters), else empty; and the heading's.
QString ProcessCellToolTip(const ProcessRow& row, int column);
QString ProcessHeadingToolTip(int column);
// Whether ps of this flavour (0 BSD, 1 SysV, 2 POSIX; -1 not known) sends the column.
bool ProcessColumnHasData(int column, int32_t flavour);
// A zombie: STAT starts with Z.
bool IsZombie(const ProcessRow& row);
// KiB as ps prints RSS, in human units: "980 K", "512 K", "1.2 M", "1.2 G"; empty stays empty.
QString HumanKibibytes(std::string_view kib);

// Numeric sort keys; nullopt for a text that is not of the kind (such texts sort last).
std::optional<double> NumberKey(std::string_view text);
// Seconds.
std::optional<double> DurationKey(std::string_view text);
// Minutes since an arbitrary epoch, read against today's date: a bare time of day is today,
// a month and day without a year is this year (or last year when it lies after today), a
// weekday is within the last week, a year alone is that year's first day.
std::optional<double> StartTimeKey(std::string_view text, const QDate& today);
