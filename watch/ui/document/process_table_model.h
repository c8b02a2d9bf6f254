// The list of the grid view: one item per process, keyed by Pid, texts fetched on demand.
#pragma once

#include "watch/engine/process_row.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <string_view>
#include <vector>

class CPsvigilDoc;

// Items hold nothing but their Pid; every cell text is looked up in the document's process
// table when the view asks, so an update only has to add and remove items.
class CProcessTableModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    static constexpr int kColumnCount = 7;
    // The item's Pid, for Qt::UserRole.
    static constexpr int kPidRole = Qt::UserRole;

    explicit CProcessTableModel(CPsvigilDoc* doc, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Brings the items in step with the process table's merge states: new rows get an item
    // at the top (and become updated), gone rows lose theirs, updated rows repaint.
    void ApplyTableStates();
    // Orders the items by the texts of column, byte by byte; a column outside 0..6 leaves
    // the order alone. Selection and the current item follow their processes.
    void SortItems(int column, bool ascending);
    // -1, 0 or 1 as the grid compares two items by their Pids (already reversed for a
    // descending sort); 0 when either Pid has no row.
    int CompareItems(int32_t pidA, int32_t pidB, int column, bool ascending) const;

    int32_t PidAt(int row) const;
    // The first item with this Pid, or -1.
    int RowOfPid(int32_t pid) const;

    // The text a column shows of a row (empty for a column outside 0..6).
    static std::string_view CellText(const ProcessRow& row, int column);
    // Unsigned byte-wise comparison: -1, 0 or 1.
    static int CompareTexts(std::string_view a, std::string_view b);

  private:
    // Up to this many new items are put in place one by one; more are sorted with the rest.
    static constexpr int kInsertionLimit = 64;

    CPsvigilDoc* m_doc;
    std::vector<int32_t> m_items; // the Pid of every item, in list order
    int m_addedAtTop = 0;         // items inserted at the top since the last sort
};
