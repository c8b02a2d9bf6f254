// File > Export: the table on display as CSV or JSON, for spreadsheets and scripts.
#include "watch/ui/document/grid_export.h"

#include "watch/engine/host_settings.h"
#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/files/atomic_file.h"
#include "watch/ui/files/table_text.h"

#include <QHeaderView>

#include <string_view>
#include <vector>

namespace
{
// The JSON key of a column: psvigil-cli's name for the same field.
std::string KeyOf(int column)
{
    static constexpr std::pair<std::string_view, std::string_view> kKeys[] = {
        {"User", "user"},        {"PID", "pid"},       {"CPU Usage", "cpu"},  {"Term", "tty"},
        {"Start Time", "start"}, {"CPU Time", "time"}, {"Mem %", "mem"},      {"RSS", "rss"},
        {"State", "stat"},       {"PPID", "ppid"},     {"Command", "command"}};
    const std::string_view heading = ProcessColumns()[static_cast<std::size_t>(column)].Heading;
    for (const auto& [name, key] : kKeys)
    {
        if (name == heading)
            return std::string(key);
    }
    return std::string(heading);
}
} // namespace

std::string GridExportText(const CPsvigilView& view, bool json)
{
    const QHeaderView* header = view.horizontalHeader();
    std::vector<int> columns;
    for (int visual = 0; visual < header->count(); ++visual)
    {
        const int column = header->logicalIndex(visual);
        if (column >= 0 && column < ProcessColumnCount() && !header->isSectionHidden(column))
            columns.push_back(column);
    }
    const CProcessTableModel& model = *view.ProcessModel();
    const CPsvigilDoc& doc = *view.Document();
    std::string out;
    if (json)
    {
        const WatchLogHeader& source = doc.Source();
        const bool known = source.Version >= 2;
        out = "{\"host\":" + (known ? JsonString(source.Address) : std::string("null")) +
              ",\"transport\":" +
              (known ? JsonString(TransportName(source.Transport)) : std::string("null")) +
              ",\"flavour\":" +
              (known ? JsonString(FlavourLabel(source.Flavour)) : std::string("null")) +
              ",\"time\":" +
              (known && source.RefreshTime > 0 ? JsonString(IsoUtcTime(source.RefreshTime))
                                               : std::string("null")) +
              ",\"processes\":[";
    }
    else
    {
        std::vector<std::string> headings;
        for (int column : columns)
            headings.emplace_back(ProcessColumns()[static_cast<std::size_t>(column)].Heading);
        out = CsvRecord(headings);
    }
    bool first = true;
    for (int row = 0; row < model.rowCount(); ++row)
    {
        const ProcessRow* process = doc.FindRowByPid(model.PidAt(row));
        if (process == nullptr || model.LookAt(row) == ERowLook::Gone)
            continue;
        if (json)
        {
            out += first ? "\n{" : ",\n{";
            for (std::size_t i = 0; i < columns.size(); ++i)
            {
                const ProcessColumn& columnDef =
                    ProcessColumns()[static_cast<std::size_t>(columns[i])];
                out += (i ? ",\"" : "\"") + KeyOf(columns[i]) + "\":" +
                       JsonValue(columnDef.Text(*process), columnDef.Sort == ESortKind::Number);
            }
            out += '}';
        }
        else
        {
            std::vector<std::string> values;
            for (int column : columns)
                values.emplace_back(ProcessCellText(*process, column));
            out += CsvRecord(values);
        }
        first = false;
    }
    if (json)
        out += "]}\n";
    return out;
}

bool ExportGridFile(const CPsvigilView& view, const std::string& path, bool json)
{
    return WriteFileAtomically(path, GridExportText(view, json), kModeFromUmask);
}
