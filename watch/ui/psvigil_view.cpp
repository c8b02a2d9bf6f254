// The process grid: one line per process of the document's table, seven sortable columns.
#include "watch/ui/psvigil_view.h"

#include "platform/ui/dialog_units.h"
#include "watch/ui/process_table_model.h"
#include "watch/ui/psvigil_doc.h"
#include "watch/ui/sort_header.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace
{
// Paints a cell the way the grid always has: the whole line in the highlight colours when
// selected, the text 2 pixels in from both edges, top-aligned and clipped without an ellipsis,
// and the focus rectangle around the whole line rather than one cell.
class CGridItemDelegate : public QStyledItemDelegate
{
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        painter->fillRect(option.rect, selected ? pal.highlight() : pal.base());
        QRect textRect = option.rect.adjusted(2, 0, -2, -1);
        if (textRect.width() > 0)
        {
            painter->setClipRect(textRect);
            painter->setPen(selected ? pal.color(QPalette::HighlightedText)
                                     : pal.color(QPalette::Text));
            painter->setFont(option.font);
            painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                              index.data(Qt::DisplayRole).toString());
            painter->setClipping(false);
        }
        if (option.state & QStyle::State_HasFocus)
            DrawLineFocus(painter, option, index);
        painter->restore();
    }

  private:
    static void DrawLineFocus(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index)
    {
        QPen pen(option.palette.color(QPalette::Text));
        pen.setStyle(Qt::DotLine);
        painter->setPen(pen);
        const QRect r = option.rect;
        painter->drawLine(r.topLeft(), r.topRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        if (index.column() == 0)
            painter->drawLine(r.topLeft(), r.bottomLeft());
        if (index.column() == index.model()->columnCount() - 1)
            painter->drawLine(r.topRight(), r.bottomRight());
    }
};
} // namespace

CPsvigilView::CPsvigilView(CPsvigilDoc* doc, QWidget* parent)
    : QTableView(parent), m_doc(doc), m_model(new CProcessTableModel(doc, this)),
      m_header(new CSortHeader(this))
{
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(new CGridItemDelegate(this));
    setShowGrid(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setSortingEnabled(false); // sorting is ours, by bytes, on the header's click
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);

    connect(m_header, &QHeaderView::sectionClicked, this, &CPsvigilView::OnColumnClick);
    connect(m_doc, &CPsvigilDoc::UpdateAllViews, this, &CPsvigilView::OnUpdate,
            Qt::DirectConnection);
    connect(m_doc, &CPsvigilDoc::InitialUpdate, this, &CPsvigilView::OnInitialUpdate);
}

int CPsvigilView::ColumnWidth(int column) const
{
    const int classic = kColumnWidths.at(static_cast<std::size_t>(column));
    // Four horizontal dialog units make one average character.
    const int average = DialogUnitsX(m_header, 4);
    return std::max(classic, classic * average / 6);
}

void CPsvigilView::OnInitialUpdate()
{
    if (m_lastInsertedColumn < 0)
    {
        for (int i = 0; i < static_cast<int>(kColumnWidths.size()); ++i)
        {
            m_header->resizeSection(i, ColumnWidth(i));
            m_lastInsertedColumn = i;
        }
    }
    OnUpdate();
    m_header->SetSortImage(0, true);
}

void CPsvigilView::OnUpdate()
{
    m_model->ApplyTableStates();
    emit TotalChanged(m_model->rowCount());
    m_model->SortItems(m_header->SortColumn(), m_header->IsAscending());
}

void CPsvigilView::Sort(int column, bool ascending)
{
    if (!m_sortable)
        return;
    m_header->SetSortImage(column, ascending);
    m_model->SortItems(column, ascending);
}

void CPsvigilView::OnColumnClick(int column)
{
    const bool ascending = column == m_header->SortColumn() ? !m_header->IsAscending() : true;
    Sort(column, ascending);
}
