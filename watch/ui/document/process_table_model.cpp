// The list of the grid view: one item per process, keyed by Pid, texts fetched on demand.
#include "watch/ui/document/process_table_model.h"

#include "watch/engine/host_settings.h"
#include "watch/ui/document/psvigil_doc.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

namespace
{
constexpr const char* kHeadings[CProcessTableModel::kColumnCount] = {
    "User", "PID", "CPU Usage", "Term", "Start Time", "CPU Time", "Command"};
}

CProcessTableModel::CProcessTableModel(CPsvigilDoc* doc, QObject* parent)
    : QAbstractTableModel(parent), m_doc(doc)
{
}

int CProcessTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

int CProcessTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

std::string_view CProcessTableModel::CellText(const ProcessRow& row, int column)
{
    switch (column)
    {
    case 0:
        return FieldText(row.User);
    case 1:
        return FieldText(row.PidText);
    case 2:
        return FieldText(row.CpuUsage);
    case 3:
        return FieldText(row.Term);
    case 4:
        return FieldText(row.StartTime);
    case 5:
        return FieldText(row.CpuTime);
    case 6:
        return FieldText(row.Command);
    default:
        return {};
    }
}

int CProcessTableModel::CompareTexts(std::string_view a, std::string_view b)
{
    // string_view compares as unsigned bytes, and a text that is a prefix of the other is
    // smaller, just as a terminator would be.
    const int c = a.compare(b);
    return (c > 0) - (c < 0);
}

QVariant CProcessTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int32_t pid = m_items[static_cast<std::size_t>(index.row())];
    switch (role)
    {
    case Qt::DisplayRole:
    {
        // An item whose process has left the table shows empty cells.
        const ProcessRow* row = m_doc->FindRowByPid(pid);
        if (!row)
            return QString();
        const std::string_view text = CellText(*row, index.column());
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
    case kPidRole:
        return pid;
    default:
        return {};
    }
}

QVariant CProcessTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeadings[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags CProcessTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

int32_t CProcessTableModel::PidAt(int row) const
{
    return (row >= 0 && row < rowCount()) ? m_items[static_cast<std::size_t>(row)] : 0;
}

int CProcessTableModel::RowOfPid(int32_t pid) const
{
    const auto it = std::find(m_items.begin(), m_items.end(), pid);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

void CProcessTableModel::ApplyTableStates()
{
    const COwningPtrArray<ProcessRow>& table = m_doc->ProcessTable();
    std::vector<int32_t> added;
    std::unordered_set<int32_t> gone;
    bool anyUpdated = false;
    for (int32_t i = 0; i < table.GetSize(); ++i)
    {
        ProcessRow& row = *table.GetAt(i);
        if (row.State == kRowNew)
        {
            added.push_back(row.Pid);
            row.State = kRowUpdated;
        }
        else if (row.State == kRowGone)
            gone.insert(row.Pid);
        else
            anyUpdated = true;
    }

    // Gone items leave in runs, from the bottom up, so every run is one removal.
    if (!gone.empty())
    {
        int end = rowCount();
        while (end > 0)
        {
            if (!gone.count(m_items[static_cast<std::size_t>(end - 1)]))
            {
                --end;
                continue;
            }
            int first = end - 1;
            while (first > 0 && gone.count(m_items[static_cast<std::size_t>(first - 1)]))
                --first;
            beginRemoveRows(QModelIndex(), first, end - 1);
            m_items.erase(m_items.begin() + first, m_items.begin() + end);
            endRemoveRows();
            end = first;
        }
    }

    // Each new item goes in at the top, so the last new row ends up first.
    if (!added.empty())
    {
        beginInsertRows(QModelIndex(), 0, static_cast<int>(added.size()) - 1);
        m_items.insert(m_items.begin(), added.rbegin(), added.rend());
        m_addedAtTop += static_cast<int>(added.size());
        endInsertRows();
    }

    if (anyUpdated && rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1), {Qt::DisplayRole});
}

int CProcessTableModel::CompareItems(int32_t pidA, int32_t pidB, int column, bool ascending) const
{
    if (column < 0 || column >= kColumnCount)
        return 0;
    const ProcessRow* a = m_doc->FindRowByPid(pidA);
    const ProcessRow* b = m_doc->FindRowByPid(pidB);
    if (!a || !b)
        return 0;
    const int c = CompareTexts(CellText(*a, column), CellText(*b, column));
    return ascending ? c : -c;
}

void CProcessTableModel::SortItems(int column, bool ascending)
{
    if (column < 0 || column >= kColumnCount || m_items.size() < 2)
        return;

    // Look every row up once, not twice per comparison.
    struct Key
    {
        std::string_view Text;
        bool Present;
    };
    std::vector<Key> keys(m_items.size());
    for (std::size_t i = 0; i < m_items.size(); ++i)
    {
        const ProcessRow* row = m_doc->FindRowByPid(m_items[i]);
        keys[i] = row ? Key{CellText(*row, column), true} : Key{{}, false};
    }
    auto less = [&](int x, int y)
    {
        const Key& a = keys[static_cast<std::size_t>(x)];
        const Key& b = keys[static_cast<std::size_t>(y)];
        if (!a.Present || !b.Present)
            return false;
        const int c = CompareTexts(a.Text, b.Text);
        return ascending ? c < 0 : c > 0;
    };
    const int count = static_cast<int>(m_items.size());
    const int added = std::min(m_addedAtTop, count);
    m_addedAtTop = 0;

    // The usual update leaves a few new items at the top of a list that is still in order;
    // they are placed by binary search instead of sorting everything again.
    bool tailSorted = true;
    for (int i = added + 1; i < count && tailSorted; ++i)
        tailSorted = !less(i, i - 1);
    std::vector<int> order;
    order.reserve(m_items.size());
    if (tailSorted && added <= kInsertionLimit)
    {
        for (int i = added; i < count; ++i)
            order.push_back(i);
        // From the last new item to the first, each before its equals: the order a stable
        // sort gives, since new items come first.
        for (int j = added - 1; j >= 0; --j)
            order.insert(std::lower_bound(order.begin(), order.end(), j, less), j);
    }
    else
    {
        order.resize(m_items.size());
        std::iota(order.begin(), order.end(), 0);
        // A stable sort keeps equal texts in their present order; an item without a row
        // compares equal to every other one, which a stable merge sort tolerates.
        std::stable_sort(order.begin(), order.end(), less);
    }
    bool unchanged = true;
    for (std::size_t i = 0; i < order.size() && unchanged; ++i)
        unchanged = order[i] == static_cast<int>(i);
    if (unchanged)
        return;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    std::vector<int32_t> sorted(m_items.size());
    for (std::size_t i = 0; i < order.size(); ++i)
    {
        sorted[i] = m_items[static_cast<std::size_t>(order[i])];
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    m_items.swap(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after.append(index(newRowOf[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
