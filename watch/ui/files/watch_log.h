// The watch log document (.pvg): marker 100, a row count, then each row's fields.
#pragma once

#include "watch/engine/owning_array.h"
#include "watch/engine/process_row.h"
#include "watch/ui/files/archive_stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

inline constexpr int32_t kWatchLogMarker = 100;

// Messages of the document's file handling, as the user reads them.
inline constexpr char kUnexpectedFileFormat[] = "Unexpected file format.";
inline constexpr char kFailedToOpenDocument[] = "Failed to open document.";
inline constexpr char kFailedToSaveDocument[] = "Failed to save document.";

// The file image of a process table: marker, count, then per row User, PidText, Pid,
// CpuUsage, Term, StartTime, CpuTime, Command. State is not stored.
std::string WatchLogBytes(const COwningPtrArray<ProcessRow>& rows);

// Reads a watch log, handing each row to onRow as soon as it is complete (the document merges
// after every row). The marker is read and ignored. Rows handed over before a failure stay
// with the caller. Returns Ok, or EndOfFile when the data ends early.
using WatchLogRowSink = std::function<void(std::unique_ptr<ProcessRow>)>;
ArchiveStatus ReadWatchLog(std::string_view bytes, const WatchLogRowSink& onRow);

// File forms. On failure error receives the message to show.
bool LoadWatchLogFile(const std::string& path, const WatchLogRowSink& onRow, std::string* error);
// The file is replaced in one step, so a failed save never leaves half a log behind.
bool SaveWatchLogFile(const std::string& path, const COwningPtrArray<ProcessRow>& rows,
                      std::string* error);
