// The rows of the grid: one item per process, sorted by kind, filtered, with new and gone marks.
#include "watch/ui/document/process_table_model.h"

#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/process_table_item.h"
#include "watch/ui/document/psvigil_doc.h"

#include <QFont>

#include <algorithm>
#include <cstring>

CProcessTableModel::CProcessTableModel(CPsvigilDoc* doc, QObject* parent)
    : QAbstractTableModel(parent), m_doc(doc), m_today([] { return QDate::currentDate(); })
{
    // "pts/10" after "pts/9", as a reader expects.
    m_collator.setNumericMode(true);
}

CProcessTableModel::~CProcessTableModel() = default;

int CProcessTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CProcessTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ProcessColumnCount();
}

QVariant CProcessTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Item& item = *m_rows[static_cast<std::size_t>(index.row())];
    switch (role)
    {
    case Qt::DisplayRole:
        return ProcessCellDisplay(item.Row, index.column());
    case Qt::ToolTipRole:
        return ProcessCellToolTip(item.Row, index.column());
    case kZombieRole:
        return IsZombie(item.Row);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
    case Qt::FontRole:
        if (item.Gone)
        {
            QFont font;
            font.setStrikeOut(true);
            return font;
        }
        return {};
    case kPidRole:
        return item.Row.Pid;
    case kLookRole:
        return static_cast<int>(LookAt(index.row()));
    case kAlertRole:
        return m_alertMarked && m_alertMarked(item.Row.Pid);
    default:
        return {};
    }
}

QVariant CProcessTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ProcessColumnCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(ProcessColumns()[static_cast<std::size_t>(section)].Heading);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role == Qt::ToolTipRole)
        return ProcessHeadingToolTip(section);
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
    return (row >= 0 && row < rowCount()) ? m_rows[static_cast<std::size_t>(row)]->Row.Pid : 0;
}

int CProcessTableModel::RowOfPid(int32_t pid) const
{
    const auto it = m_items.find(pid);
    if (it == m_items.end() || !it->second->Shown)
        return -1;
    const auto at = std::find(m_rows.begin(), m_rows.end(), it->second.get());
    return at == m_rows.end() ? -1 : static_cast<int>(at - m_rows.begin());
}

ERowLook CProcessTableModel::LookAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return ERowLook::Current;
    const Item& item = *m_rows[static_cast<std::size_t>(row)];
    if (item.Gone)
        return ERowLook::Gone;
    return item.NewLeft > 0 ? ERowLook::New : ERowLook::Current;
}

void CProcessTableModel::PurgeLeaving()
{
    for (auto it = m_items.begin(); it != m_items.end();)
    {
        if (it->second->Gone && it->second->GoneLeft <= 0 && !it->second->Shown)
            it = m_items.erase(it);
        else
            ++it;
    }
}

void CProcessTableModel::EmitAllChanged()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void CProcessTableModel::ApplyTableStates()
{
    // Every mark is one refresh older; a gone item whose time is up leaves with this rebuild.
    for (auto& [pid, item] : m_items)
    {
        if (item->Gone)
            --item->GoneLeft;
        else if (item->NewLeft > 0)
            --item->NewLeft;
    }

    const int highlight = m_primed ? m_highlightRefreshes : 0;
    m_addedLast = 0;
    m_goneLast = 0;
    const COwningPtrArray<ProcessRow>& table = m_doc->ProcessTable();
    for (int32_t i = 0; i < table.GetSize(); ++i)
    {
        ProcessRow& row = *table.GetAt(i);
        auto it = m_items.find(row.Pid);
        if (row.State == kRowGone)
        {
            if (it == m_items.end() || it->second->Gone)
                continue;
            ++m_goneLast;
            it->second->Gone = true;
            it->second->GoneLeft = m_highlightRefreshes;
            it->second->NewLeft = 0;
            continue;
        }
        const bool added = row.State == kRowNew;
        if (added)
            row.State = kRowUpdated; // the table's new rows are shown now
        if (it == m_items.end())
        {
            it = m_items.emplace(row.Pid, std::make_unique<Item>()).first;
            it->second->SetRow(row);
            it->second->NewLeft = highlight;
            m_addedLast += m_primed ? 1 : 0;
            continue;
        }
        Item& item = *it->second;
        if (item.Gone || added)
        {
            // A process id that comes back belongs to a new process.
            item.Gone = false;
            item.GoneLeft = 0;
            item.NewLeft = highlight;
            m_addedLast += m_primed ? 1 : 0;
        }
        ProcessRow incoming = row;
        incoming.State = item.Row.State;
        if (std::memcmp(&incoming, &item.Row, sizeof(ProcessRow)) != 0)
            item.SetRow(row);
    }
    m_sortedValid = false;
    // A merge without rows (the empty table at start) is no first look yet.
    m_primed = m_primed || table.GetSize() > 0;
    m_stale = false;

    Rebuild();
    PurgeLeaving();
    EmitAllChanged();
    emit CountsChanged();
}

void CProcessTableModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    m_sorted.clear();
    m_sortedValid = false;
    m_items.clear();
    m_primed = false;
    m_stale = false;
    m_addedLast = 0;
    m_goneLast = 0;
    m_liveCount = 0;
    m_matchingCount = 0;
    endResetModel();
    emit CountsChanged();
}

void CProcessTableModel::SetHighlightRefreshes(int refreshes)
{
    m_highlightRefreshes = std::max(0, refreshes);
    if (m_highlightRefreshes > 0)
        return;
    // Switched off: the marks go now, not at the next refresh.
    for (auto& [pid, item] : m_items)
    {
        item->NewLeft = 0;
        item->GoneLeft = 0;
    }
    m_sortedValid = false;
    Rebuild();
    PurgeLeaving();
    EmitAllChanged();
}

void CProcessTableModel::SetStale(bool stale)
{
    if (m_stale == stale)
        return;
    m_stale = stale;
    EmitAllChanged();
}

void CProcessTableModel::Rebuild()
{
    ShowInOrder(DesiredOrder());
    RecountMatching();
}

void CProcessTableModel::ShowInOrder(const std::vector<Item*>& order)
{
    // Shown is true exactly for the items in m_rows; Wanted marks those of order.
    for (Item* item : order)
        item->Wanted = true;
    std::vector<Item*> leaving;
    for (Item* item : m_rows)
        if (!item->Wanted)
            leaving.push_back(item);
    std::vector<Item*> arriving;
    for (Item* item : order)
        if (!item->Shown)
            arriving.push_back(item);
    for (Item* item : order)
        item->Wanted = false;

    if (!arriving.empty())
    {
        const int first = rowCount();
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(arriving.size()) - 1);
        m_rows.insert(m_rows.end(), arriving.begin(), arriving.end());
        for (Item* item : arriving)
            item->Shown = true;
        endInsertRows();
    }

    // The wanted order, with the leaving items after it so they go in one removal.
    std::vector<Item*> target = order;
    target.insert(target.end(), leaving.begin(), leaving.end());
    if (target != m_rows)
    {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        for (std::size_t i = 0; i < target.size(); ++i)
            target[i]->NewRow = static_cast<int>(i);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& old : before)
            after.append(index(m_rows[static_cast<std::size_t>(old.row())]->NewRow, old.column()));
        m_rows = std::move(target);
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    if (!leaving.empty())
    {
        beginRemoveRows(QModelIndex(), static_cast<int>(order.size()), rowCount() - 1);
        m_rows.resize(order.size());
        for (Item* item : leaving)
            item->Shown = false;
        endRemoveRows();
    }
}

void CProcessTableModel::SetAlertMarks(std::function<bool(int32_t pid)> marked)
{
    m_alertMarked = std::move(marked);
    AlertMarksChanged();
}

void CProcessTableModel::AlertMarksChanged()
{
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {kAlertRole});
}
