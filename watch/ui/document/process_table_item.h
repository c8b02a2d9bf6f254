// One process's item in the grid's model: its row, its marks and its cached sort key and filter
// text; shared by the model's files.
#pragma once

#include "watch/ui/document/process_table_model.h"

#include <QString>

#include <optional>

struct CProcessTableModel::Item
{
    ProcessRow Row;
    int NewLeft = 0;  // refreshes for which the item still shows as new
    int GoneLeft = 0; // the same for a gone item; it leaves when this reaches 0
    bool Gone = false;
    bool Shown = false;  // in m_rows
    bool Wanted = false; // scratch of ShowInOrder
    int NewRow = 0;      // the same
    // The sort key of the column in m_keyStamp; a text key for text columns, else a number.
    int64_t KeyStamp = -1;
    SortKey Key;
    // Case-folded texts of every column, for the filter; built on first use.
    std::optional<QString> Folded;

    void SetRow(const ProcessRow& row)
    {
        Row = row;
        KeyStamp = -1;
        Folded.reset();
    }
};
