// The process grid: one line per process of the document's table, seven sortable columns.
#include "watch/ui/document/psvigil_view.h"

#include "platform/ui/dialog_units.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/sort_header.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace
{
constexpr int kCommandColumn = 6;

// Paints a cell the way the grid always has: the whole line in the highlight colours when
// selected, the text 2 pixels in from both edges, top-aligned and clipped without an ellipsis,
// and the focus rectangle around the whole line rather than one cell.
class CGridItemDelegate : public QStyledItemDelegate
{
  public:
    explicit CGridItemDelegate(QTableView* view) : QStyledItemDelegate(view), m_view(view) {}

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
        // The item is the line, so every cell of the current line carries its part of the mark.
        if (m_view->hasFocus() && m_view->currentIndex().row() == index.row())
            DrawLineFocus(painter, option, index);
        painter->restore();
    }

  private:
    static void DrawLineFocus(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index)
    {
        QPen pen(option.palette.color(QPalette::Text));
        if (option.state & QStyle::State_Selected)
            pen.setColor(option.palette.color(QPalette::HighlightedText));
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

    QTableView* m_view;
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
    // The focus mark spans the whole line: repaint all of it when the line changes.
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, viewport(),
            qOverload<>(&QWidget::update));

    connect(m_header, &QHeaderView::sectionClicked, this, &CPsvigilView::OnColumnClick);
    connect(m_header, &QHeaderView::sectionResized, this,
            [this](int column, int, int)
            {
                if (column != kCommandColumn)
                    StretchCommandColumn();
            });
    connect(m_doc, &CPsvigilDoc::UpdateAllViews, this, &CPsvigilView::OnUpdate,
            Qt::DirectConnection);
    connect(m_doc, &CPsvigilDoc::InitialUpdate, this, &CPsvigilView::OnInitialUpdate);
}

int CPsvigilView::ColumnWidth(int column) const
{
    const int classic = kColumnWidths.at(static_cast<std::size_t>(column));
    // Four horizontal dialog units make one average character.
    const int average = DialogUnitsX(m_header, 4);
    const QString heading = m_model->headerData(column, Qt::Horizontal).toString();
    // Every heading must stay readable with the arrow beside it, whichever column is sorted.
    return std::max({classic, classic * average / 6, m_header->SortedSectionWidth(heading)});
}

void CPsvigilView::StretchCommandColumn()
{
    if (m_lastInsertedColumn < kCommandColumn)
        return;
    int others = 0;
    for (int i = 0; i < kCommandColumn; ++i)
        others += m_header->sectionSize(i);
    const int wanted = std::max(ColumnWidth(kCommandColumn), viewport()->width() - others);
    if (m_header->sectionSize(kCommandColumn) != wanted)
        m_header->resizeSection(kCommandColumn, wanted);
}

void CPsvigilView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    StretchCommandColumn();
}

QString CPsvigilView::ClippedCellText(const QModelIndex& index) const
{
    if (!index.isValid())
        return QString();
    const QString text = index.data(Qt::DisplayRole).toString();
    // The text sits 2 pixels in from both edges of its cell.
    const int room = columnWidth(index.column()) - 4;
    return fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

QString CPsvigilView::SelectedLinesText() const
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& row : rows)
    {
        QStringList cells;
        for (int column = 0; column < m_model->columnCount(); ++column)
            cells << m_model->index(row.row(), column).data(Qt::DisplayRole).toString();
        lines << cells.join('\t');
    }
    return lines.isEmpty() ? QString() : lines.join('\n') + '\n';
}

bool CPsvigilView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip)
    {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ClippedCellText(indexAt(help->pos()));
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QTableView::viewportEvent(event);
}

void CPsvigilView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
}

void CPsvigilView::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void CPsvigilView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy))
    {
        const QString text = SelectedLinesText();
        if (!text.isEmpty())
            QGuiApplication::clipboard()->setText(text);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
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
        StretchCommandColumn();
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
