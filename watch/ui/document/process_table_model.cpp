// The rows of the grid: one item per process, sorted by kind, filtered, with new and gone marks.
#include "watch/ui/document/process_table_model.h"

#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/psvigil_doc.h"

#include <QFont>

#include <algorithm>
#include <cstring>

namespace
{
char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// needle is lower case ASCII. Bytes of other characters never match an ASCII byte, so this is
// the case-insensitive search for any UTF-8 text.
bool ContainsAscii(std::string_view text, std::string_view needle)
{
    if (needle.size() > text.size())
        return false;
    const std::size_t last = text.size() - needle.size();
    for (std::size_t i = 0; i <= last; ++i)
    {
        std::size_t k = 0;
        while (k < needle.size() && LowerAscii(text[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}
} // namespace

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

void CProcessTableModel::SetFilter(const QString& text)
{
    if (text == m_filter)
        return;
    m_filter = text;
    m_foldedFilter = text.toCaseFolded();
    m_asciiFilter.clear();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80 && c.unicode() != '\n';
    if (ascii)
        for (QChar c : text)
            m_asciiFilter += LowerAscii(static_cast<char>(c.unicode()));
    Rebuild();
    emit CountsChanged();
}

void CProcessTableModel::SortItems(int column, bool ascending)
{
    if (column < 0 || column >= ProcessColumnCount())
        return;
    m_sortColumn = column;
    m_ascending = ascending;
    Rebuild();
}

bool CProcessTableModel::Matches(Item& item) const
{
    if (m_foldedFilter.isEmpty())
        return true;
    if (!m_asciiFilter.empty())
    {
        // The common case, and the fast one: no text is converted or copied.
        for (int c = 0; c < ProcessColumnCount(); ++c)
            if (ContainsAscii(ProcessCellText(item.Row, c), m_asciiFilter))
                return true;
        return false;
    }
    if (!item.Folded)
    {
        QString all;
        for (int c = 0; c < ProcessColumnCount(); ++c)
        {
            const std::string_view text = ProcessCellText(item.Row, c);
            all += QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
            all += QChar('\n'); // no match runs from one column into the next
        }
        item.Folded = all.toCaseFolded();
    }
    return item.Folded->contains(m_foldedFilter);
}

CProcessTableModel::SortKey CProcessTableModel::MakeKey(const ProcessRow& row, int column) const
{
    SortKey key;
    const ProcessColumn& columnDef = ProcessColumns()[static_cast<std::size_t>(column)];
    const std::string_view text = columnDef.Text(row);
    switch (columnDef.Sort)
    {
    case ESortKind::Number:
        key.Number = NumberKey(text);
        break;
    case ESortKind::Duration:
        key.Number = DurationKey(text);
        break;
    case ESortKind::StartTime:
        key.Number = StartTimeKey(text, m_keyDay.isValid() ? m_keyDay : m_today());
        break;
    case ESortKind::Text:
        key.Text =
            m_collator.sortKey(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        break;
    }
    return key;
}

void CProcessTableModel::PrepareKey(Item& item) const
{
    if (item.KeyStamp == m_keyStamp)
        return;
    item.KeyStamp = m_keyStamp;
    item.Key = MakeKey(item.Row, m_sortColumn);
}

int CProcessTableModel::CompareKeys(const SortKey& a, int32_t pidA, const SortKey& b, int32_t pidB,
                                    bool ascending)
{
    // Texts that are not of the column's kind go last in either direction.
    int c = 0;
    if (a.Text && b.Text)
        c = a.Text->compare(*b.Text);
    else if (a.Number && b.Number)
        c = (*a.Number > *b.Number) - (*a.Number < *b.Number);
    else if (a.Number.has_value() != b.Number.has_value())
        return a.Number ? -1 : 1;
    if (c != 0)
        return ascending ? (c > 0) - (c < 0) : (c < 0) - (c > 0);
    return (pidA > pidB) - (pidA < pidB);
}

bool CProcessTableModel::Less(const Item& a, const Item& b) const
{
    return CompareKeys(a.Key, a.Row.Pid, b.Key, b.Row.Pid, m_ascending) < 0;
}

int CProcessTableModel::CompareItems(int32_t pidA, int32_t pidB, int column, bool ascending) const
{
    if (column < 0 || column >= ProcessColumnCount())
        return 0;
    const auto a = m_items.find(pidA);
    const auto b = m_items.find(pidB);
    if (a == m_items.end() || b == m_items.end())
        return 0;
    return CompareKeys(MakeKey(a->second->Row, column), pidA, MakeKey(b->second->Row, column), pidB,
                       ascending);
}

void CProcessTableModel::RecountMatching()
{
    m_liveCount = 0;
    m_matchingCount = 0;
    for (auto& [pid, item] : m_items)
    {
        if (item->Gone)
            continue;
        ++m_liveCount;
        if (item->Shown)
            ++m_matchingCount;
    }
}

std::vector<CProcessTableModel::Item*> CProcessTableModel::DesiredOrder()
{
    // Asked once per sort: the clock is no cheap call, and all keys must read one day. A new
    // day moves "today" for start times.
    const QDate today = m_today();
    const int64_t stamp = static_cast<int64_t>(m_sortColumn) * 100000000 + today.toJulianDay();
    if (!m_sortedValid || stamp != m_keyStamp || m_sortedAscending != m_ascending)
    {
        // Every item in sort order, filter or not: typing into the filter then only picks.
        m_keyDay = today;
        m_keyStamp = stamp;
        m_sorted.clear();
        m_sorted.reserve(m_items.size());
        for (auto& [pid, item] : m_items)
        {
            if (item->Gone && item->GoneLeft <= 0)
                continue; // leaving
            PrepareKey(*item);
            m_sorted.push_back(item.get());
        }
        std::sort(m_sorted.begin(), m_sorted.end(),
                  [this](const Item* a, const Item* b) { return Less(*a, *b); });
        m_sortedValid = true;
        m_sortedAscending = m_ascending;
    }
    std::vector<Item*> order;
    order.reserve(m_sorted.size());
    for (Item* item : m_sorted)
        if (Matches(*item))
            order.push_back(item);
    return order;
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
