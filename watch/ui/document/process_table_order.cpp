// Which of the grid's rows show and in which order: the filter, the sort keys and the sorted
// list the view's rows follow.
#include "watch/ui/document/process_table_item.h"

#include "watch/ui/document/process_columns.h"

#include <algorithm>
#include <string_view>
#include <vector>

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
