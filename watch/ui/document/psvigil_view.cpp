// The process grid: one line per process of the document's table, sortable columns.
#include "watch/ui/document/psvigil_view.h"

#include "platform/ui/dialog_units.h"
#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_doc.h"
#include "watch/ui/document/sort_header.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace
{
// The last column takes whatever width the others leave.
int CommandColumn()
{
    return ProcessColumnCount() - 1;
}

// A colour between two others; t is the share of b.
QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - t) + b.redF() * t),
                            static_cast<float>(a.greenF() * (1 - t) + b.greenF() * t),
                            static_cast<float>(a.blueF() * (1 - t) + b.blueF() * t));
}

// Paints a cell the way the grid always has: the whole line in the highlight colours when
// selected, the text 2 pixels in from both edges, top-aligned and clipped without an ellipsis,
// and the focus rectangle around the whole line rather than one cell.
class CGridItemDelegate : public QStyledItemDelegate
{
  public:
    CGridItemDelegate(QTableView* view, const CProcessTableModel* model)
        : QStyledItemDelegate(view), m_view(view), m_model(model)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        const auto look = static_cast<ERowLook>(index.data(CProcessTableModel::kLookRole).toInt());
        const bool stale = m_model->IsStale();
        // Colours come from the palette, so the marks read in light and dark themes alike: a
        // new line is tinted with the highlight colour, a gone or stale one uses the disabled
        // text colour, and a gone one is struck through.
        QColor background = pal.color(QPalette::Base);
        if (selected)
            background = pal.color(QPalette::Highlight);
        else if (look == ERowLook::New)
            background = Mix(pal.color(QPalette::Base), pal.color(QPalette::Highlight), 0.28);
        // A process an alert named is tinted amber and carries a bar at its left edge.
        const bool alerted = index.data(CProcessTableModel::kAlertRole).toBool();
        if (alerted && !selected)
            background = Mix(background, QColor(255, 170, 0), 0.35);
        painter->fillRect(option.rect, background);
        if (alerted && index.column() == 0)
            painter->fillRect(QRect(option.rect.topLeft(), QSize(4, option.rect.height())),
                              QColor(220, 90, 0));
        if (look == ERowLook::New && index.column() == 0)
            painter->fillRect(QRect(option.rect.topLeft(), QSize(3, option.rect.height())),
                              pal.color(QPalette::Highlight));
        QColor text = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
        if (!selected && (stale || look == ERowLook::Gone))
            text = pal.color(QPalette::Disabled, QPalette::Text);
        else if (!selected && index.data(CProcessTableModel::kZombieRole).toBool())
            text = Mix(text, QColor(Qt::red), 0.75); // a zombie reads red in any theme
        QFont font = option.font;
        font.setStrikeOut(look == ERowLook::Gone);
        QRect textRect = option.rect.adjusted(2, 0, -2, -1);
        if (textRect.width() > 0)
        {
            painter->setClipRect(textRect);
            painter->setPen(text);
            painter->setFont(font);
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
    const CProcessTableModel* m_model;
};
} // namespace

CPsvigilView::CPsvigilView(CPsvigilDoc* doc, QWidget* parent)
    : QTableView(parent), m_doc(doc), m_model(new CProcessTableModel(doc, this)),
      m_header(new CSortHeader(this))
{
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(new CGridItemDelegate(this, m_model));
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
                if (column != CommandColumn())
                    StretchCommandColumn();
            });
    connect(m_model, &CProcessTableModel::CountsChanged, this,
            [this]
            {
                emit CountsChanged(m_model->TotalCount(), m_model->MatchingCount(),
                                   m_model->AddedLast(), m_model->GoneLast());
                viewport()->update(); // the empty-grid hint may come or go
            });
    connect(m_doc, &CPsvigilDoc::UpdateAllViews, this, &CPsvigilView::OnUpdate,
            Qt::DirectConnection);
    connect(m_doc, &CPsvigilDoc::InitialUpdate, this, &CPsvigilView::OnInitialUpdate);
    connect(m_doc, &CPsvigilDoc::TableCleared, this, &CPsvigilView::OnTableCleared);
    connect(m_doc, &CPsvigilDoc::WatchedHostChanged, this, &CPsvigilView::ApplyColumnDefaults);
    m_header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_header, &QHeaderView::customContextMenuRequested, this,
            [this](const QPoint& pos) { ColumnMenu()->exec(m_header->mapToGlobal(pos)); });
    connect(m_doc, &CPsvigilDoc::RefreshFailed, this, [this] { m_model->SetStale(true); });
}

int CPsvigilView::ColumnWidth(int column) const
{
    if (column < 0 || column >= ProcessColumnCount())
        return 0;
    const int classic = ProcessColumns()[static_cast<std::size_t>(column)].ClassicWidth;
    // Four horizontal dialog units make one average character.
    const int average = DialogUnitsX(m_header, 4);
    const QString heading = m_model->headerData(column, Qt::Horizontal).toString();
    // Every heading must stay readable with the arrow beside it, whichever column is sorted.
    return std::max({classic, classic * average / 6, m_header->SortedSectionWidth(heading)});
}

void CPsvigilView::StretchCommandColumn()
{
    const int last = CommandColumn();
    if (m_lastInsertedColumn < last)
        return;
    int others = 0;
    for (int i = 0; i < last; ++i)
        others += m_header->sectionSize(i);
    const int wanted = std::max(ColumnWidth(last), viewport()->width() - others);
    if (m_header->sectionSize(last) != wanted)
        m_header->resizeSection(last, wanted);
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
        for (int visual = 0; visual < m_header->count(); ++visual)
        {
            const int column = m_header->logicalIndex(visual);
            if (!m_header->isSectionHidden(column))
                cells << m_model->index(row.row(), column).data(Qt::DisplayRole).toString();
        }
        lines << cells.join('\t');
    }
    return lines.isEmpty() ? QString() : lines.join('\n') + '\n';
}

bool CPsvigilView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip)
    {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        QString text = ClippedCellText(index);
        if (text.isEmpty())
            text = index.data(Qt::ToolTipRole).toString();
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
        for (int i = 0; i < ProcessColumnCount(); ++i)
        {
            if (!m_widthsRestored)
                m_header->resizeSection(i, ColumnWidth(i));
            m_lastInsertedColumn = i;
        }
        StretchCommandColumn();
    }
    ApplyColumnDefaults();
    OnUpdate();
    if (!m_sortRestored)
        Sort(0, true);
    else
        Sort(m_header->SortColumn(), m_header->IsAscending());
}

void CPsvigilView::OnUpdate()
{
    // The current line stays where it is on screen, whatever comes and goes above it.
    const QPersistentModelIndex anchor = currentIndex();
    const int anchorY = anchor.isValid() ? rowViewportPosition(anchor.row()) : -1;
    const bool anchorVisible = anchorY >= 0 && anchorY < viewport()->height();

    if (m_model->SortColumn() != m_header->SortColumn() ||
        m_model->IsAscending() != m_header->IsAscending())
        m_model->SortItems(m_header->SortColumn(), m_header->IsAscending());
    m_model->ApplyTableStates();
    emit TotalChanged(m_model->TotalCount());

    if (anchorVisible && anchor.isValid())
    {
        const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(anchor.row() - anchorY / rowHeight);
    }
}

void CPsvigilView::OnTableCleared()
{
    m_model->Clear();
}

void CPsvigilView::SetFilter(const QString& text)
{
    const QPersistentModelIndex anchor = currentIndex();
    m_model->SetFilter(text);
    if (anchor.isValid())
        scrollTo(anchor);
}

QString CPsvigilView::EmptyHint() const
{
    if (m_model->rowCount() > 0)
        return QString();
    if (!m_model->Filter().isEmpty() && m_model->TotalCount() > 0)
        return tr("No process contains \u201c%1\u201d").arg(m_model->Filter());
    if (!m_model->HasData())
        return tr("Host > Watch to start");
    return QString();
}

void CPsvigilView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    const QString hint = EmptyHint();
    if (hint.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap, hint);
}

void CPsvigilView::SaveSettings(QSettings& settings) const
{
    settings.beginGroup(QStringLiteral("Grid"));
    // By heading, so columns added or moved in a later version keep their own widths.
    for (int i = 0; i < ProcessColumnCount(); ++i)
        settings.setValue(QStringLiteral("Width/") +
                              ProcessColumns()[static_cast<std::size_t>(i)].Heading,
                          m_header->sectionSize(i));
    settings.setValue(
        QStringLiteral("SortColumn"),
        QString::fromLatin1(
            ProcessColumns()[static_cast<std::size_t>(m_header->SortColumn())].Heading));
    settings.setValue(QStringLiteral("SortAscending"), m_header->IsAscending());
    // Only the columns the user showed or hid; the others follow the flavour on display.
    for (const auto& [column, shown] : m_columnChoices)
        settings.setValue(QStringLiteral("Shown/") +
                              ProcessColumns()[static_cast<std::size_t>(column)].Heading,
                          shown);
    settings.endGroup();
}

void CPsvigilView::RestoreSettings(QSettings& settings)
{
    settings.beginGroup(QStringLiteral("Grid"));
    bool anyWidth = false;
    for (int i = 0; i < ProcessColumnCount(); ++i)
    {
        const int width = settings
                              .value(QStringLiteral("Width/") +
                                     ProcessColumns()[static_cast<std::size_t>(i)].Heading)
                              .toInt();
        // A width that would hide the column, or fill many screens, is not taken.
        const bool usable = width >= 8 && width <= 4000;
        m_header->resizeSection(i, usable ? width : ColumnWidth(i));
        anyWidth = anyWidth || usable;
    }
    m_widthsRestored = m_widthsRestored || anyWidth;
    for (int i = 0; i < ProcessColumnCount(); ++i)
    {
        const QVariant shown = settings.value(
            QStringLiteral("Shown/") + ProcessColumns()[static_cast<std::size_t>(i)].Heading);
        if (shown.isValid() && i != CommandColumn())
            m_columnChoices[i] = shown.toBool();
    }
    ApplyColumnDefaults();
    const int column =
        ProcessColumnOf(settings.value(QStringLiteral("SortColumn")).toString().toStdString());
    if (column >= 0)
    {
        const bool ascending = settings.value(QStringLiteral("SortAscending"), true).toBool();
        m_header->SetSortImage(column, ascending);
        m_model->SortItems(column, ascending);
        m_sortRestored = true;
    }
    settings.endGroup();
}

void CPsvigilView::Sort(int column, bool ascending)
{
    if (!m_sortable)
        return;
    m_header->SetSortImage(column, ascending);
    const QPersistentModelIndex anchor = currentIndex();
    m_model->SortItems(column, ascending);
    if (anchor.isValid())
        scrollTo(anchor);
}

void CPsvigilView::OnColumnClick(int column)
{
    const bool ascending = column == m_header->SortColumn() ? !m_header->IsAscending() : true;
    Sort(column, ascending);
}

void CPsvigilView::ApplyColumnDefaults()
{
    const int32_t flavour = m_doc->ShownFlavour();
    bool changed = false;
    for (int i = 0; i < ProcessColumnCount(); ++i)
    {
        const auto choice = m_columnChoices.find(i);
        const bool shown =
            choice != m_columnChoices.end() ? choice->second : ProcessColumnHasData(i, flavour);
        if (m_header->isSectionHidden(i) == shown)
        {
            m_header->setSectionHidden(i, !shown);
            changed = true;
        }
    }
    // The command takes up or gives back the room; otherwise its width stays as it is.
    if (changed)
        StretchCommandColumn();
}

void CPsvigilView::SetColumnShown(int column, bool shown)
{
    if (column < 0 || column >= CommandColumn())
        return; // the command always stays
    m_columnChoices[column] = shown;
    ApplyColumnDefaults();
}

QMenu* CPsvigilView::ColumnMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (int i = 0; i < CommandColumn(); ++i)
    {
        QAction* action = menu->addAction(
            QString::fromLatin1(ProcessColumns()[static_cast<std::size_t>(i)].Heading));
        action->setCheckable(true);
        action->setChecked(!m_header->isSectionHidden(i));
        connect(action, &QAction::toggled, this, [this, i](bool on) { SetColumnShown(i, on); });
    }
    return menu;
}
