// The rows of the grid: one item per process, sorted by kind, filtered, with new and gone marks.
#pragma once

#include "watch/engine/process_row.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QCollatorSortKey>
#include <QDate>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class CPsvigilDoc;

// How an item looks: a process that has just appeared, one that has gone and is still shown
// for a while, or an ordinary one.
enum class ERowLook
{
    Current = 0,
    New = 1,
    Gone = 2,
};

// The model keeps a copy of every row it shows, so a process that has left the document's
// table can stay on screen, struck through, for a few more refreshes.
class CProcessTableModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    static constexpr int kPidRole = Qt::UserRole;
    // ERowLook as an int.
    static constexpr int kLookRole = Qt::UserRole + 1;
    // True for a zombie process, which the grid marks.
    static constexpr int kZombieRole = Qt::UserRole + 2;
    static constexpr int kDefaultHighlightRefreshes = 2;
    // True for a process an alert named (bool).
    static constexpr int kAlertRole = Qt::UserRole + 3;

    explicit CProcessTableModel(CPsvigilDoc* doc, QObject* parent = nullptr);
    ~CProcessTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Brings the items in step with the document's merge states: new rows get an item (and
    // become updated in the table), updated rows take their new texts, gone rows are marked
    // gone. Marks age by one refresh; gone items whose time is up leave. Then sorts and
    // filters. The first merge after Clear marks nothing new: it is the first look at a host.
    void ApplyTableStates();
    // Empties the grid (another host, a new or opened document).
    void Clear();

    // New and gone marks last this many refreshes; 0 turns them off (gone rows leave at once).
    void SetHighlightRefreshes(int refreshes);
    int HighlightRefreshes() const { return m_highlightRefreshes; }

    // After a failed refresh the rows on display are no longer current.
    void SetStale(bool stale);
    bool IsStale() const { return m_stale; }

    // Shows only rows whose text in some column contains text (case-insensitive).
    void SetFilter(const QString& text);
    const QString& Filter() const { return m_filter; }

    // Orders the items by column (numbers, durations and start times by value, texts by the
    // locale; equal keys by PID). Selection and current item follow their processes.
    void SortItems(int column, bool ascending);
    int SortColumn() const { return m_sortColumn; }
    bool IsAscending() const { return m_ascending; }
    // -1, 0 or 1 as the sort puts the two processes (reversed when descending; ties by PID);
    // 0 when either has no item or the column does not exist.
    int CompareItems(int32_t pidA, int32_t pidB, int column, bool ascending) const;

    int32_t PidAt(int row) const;
    // The row showing this Pid, or -1 (also when the filter hides it).
    int RowOfPid(int32_t pid) const;
    ERowLook LookAt(int row) const;

    // Processes in the table (gone ones not counted), and how many of them the filter shows.
    int TotalCount() const { return m_liveCount; }
    int MatchingCount() const { return m_matchingCount; }
    // What the last merge brought: processes that appeared and that went.
    int AddedLast() const { return m_addedLast; }
    int GoneLast() const { return m_goneLast; }
    // False until the first merge after Clear: the grid has nothing to show yet.
    bool HasData() const { return m_primed; }

    // Which processes an alert named; the lines repaint when the marks change.
    void SetAlertMarks(std::function<bool(int32_t pid)> marked);
    void AlertMarksChanged();

    // Tests fix the day that start times are read against.
    void SetToday(std::function<QDate()> today) { m_today = std::move(today); }

  signals:
    // After every change of the counts above (merge, clear, filter).
    void CountsChanged();

  private:
    struct SortKey
    {
        std::optional<double> Number;         // numbers, durations, start times
        std::optional<QCollatorSortKey> Text; // text columns
    };
    struct Item;
    SortKey MakeKey(const ProcessRow& row, int column) const;
    // Ties go by PID, ascending in either direction.
    static int CompareKeys(const SortKey& a, int32_t pidA, const SortKey& b, int32_t pidB,
                           bool ascending);
    // The items the filter lets through, in sort order.
    std::vector<Item*> DesiredOrder();
    // Moves the shown rows to order with as few signals as a refresh needs: one insertion at
    // the end, one layout change, one removal at the end.
    void ShowInOrder(const std::vector<Item*>& order);
    void Rebuild();
    bool Matches(Item& item) const;
    // Fills the item's key for the sort column if it is out of date.
    void PrepareKey(Item& item) const;
    bool Less(const Item& a, const Item& b) const;
    // Deletes gone items whose time is up (after a rebuild took them off the rows).
    void PurgeLeaving();
    void EmitAllChanged();
    void RecountMatching();

    CPsvigilDoc* m_doc;
    std::unordered_map<int32_t, std::unique_ptr<Item>> m_items;
    std::vector<Item*> m_rows; // shown items, top to bottom
    // Every item that stays, in sort order; valid until the next merge or sort change.
    std::vector<Item*> m_sorted;
    bool m_sortedValid = false;
    bool m_sortedAscending = true;
    int m_highlightRefreshes = kDefaultHighlightRefreshes;
    bool m_stale = false;
    bool m_primed = false;
    QString m_filter;          // as typed
    QString m_foldedFilter;    // case-folded
    std::string m_asciiFilter; // lower case, when the filter is all ASCII
    int m_sortColumn = 1;
    bool m_ascending = true;
    int m_liveCount = 0;
    int m_matchingCount = 0;
    int m_addedLast = 0;
    int m_goneLast = 0;
    // Stamps the sort keys: a new column or a new day makes every key out of date.
    int64_t m_keyStamp = 0;
    QCollator m_collator;
    std::function<QDate()> m_today;
    QDate m_keyDay; // the day of the keys being made
    std::function<bool(int32_t)> m_alertMarked;
};
