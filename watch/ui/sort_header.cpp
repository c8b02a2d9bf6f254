// The grid's column header: paints its own headings and the sort arrow of the sorted column.
#include "watch/ui/sort_header.h"

#include <QMouseEvent>
#include <QPainter>

CSortHeader::CSortHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

int CSortHeader::BlankWidth() const
{
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char(' ')));
}

int CSortHeader::SetSortImage(int column, bool ascending)
{
    const int previous = m_sortColumn;
    m_sortColumn = column;
    m_ascending = ascending ? 1 : 0;
    viewport()->update();
    return previous;
}

void CSortHeader::mousePressEvent(QMouseEvent* event)
{
    m_pressedSection = logicalIndexAt(event->position().toPoint());
    viewport()->update();
    QHeaderView::mousePressEvent(event);
}

void CSortHeader::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressedSection = -1;
    viewport()->update();
    QHeaderView::mouseReleaseEvent(event);
}

void CSortHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    painter->save();
    const QPalette& pal = palette();
    painter->fillRect(rect, pal.button());
    // A shadow line on the right and bottom edges keeps the columns apart.
    painter->setPen(pal.color(QPalette::Dark));
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());

    const int w = BlankWidth();
    const bool sorted = logicalIndex == m_sortColumn;
    QRect textRect = rect;
    if (logicalIndex == m_pressedSection)
        textRect.adjust(1, 2, 1, 0);
    if (sorted)
        textRect.setRight(textRect.right() - 6 * w);
    textRect.adjust(2 * w, 0, -2 * w, 0);

    const QString heading =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString()
                : QString();
    Qt::Alignment align = Qt::AlignLeft;
    if (model())
    {
        const QVariant a = model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole);
        if (a.isValid())
        {
            const auto h = a.value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
            if (h == Qt::AlignHCenter || h == Qt::AlignRight)
                align = h;
        }
    }
    if (textRect.width() > 0)
    {
        painter->setPen(pal.color(QPalette::ButtonText));
        painter->setClipRect(rect);
        const QString shown =
            fontMetrics().elidedText(heading.left(255), Qt::ElideRight, textRect.width());
        painter->drawText(textRect, align | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        painter->setClipping(false);
    }
    if (sorted)
        DrawArrow(painter, rect);
    painter->restore();
}

// A small triangle in the 6 blanks kept free at the right of the sorted heading: apex up
// for ascending, down for descending, its edges in the 3D highlight and shadow colours.
void CSortHeader::DrawArrow(QPainter* painter, const QRect& rect) const
{
    const int w = BlankWidth();
    const int r = rect.right() + 1; // the platform's right edge is exclusive
    const int b = rect.bottom() + 1;
    const int t = rect.top();
    const QPen light(palette().color(QPalette::Light), 1);
    const QPen shadow(palette().color(QPalette::Shadow), 1);
    painter->setRenderHint(QPainter::Antialiasing, false);
    if (m_ascending)
    {
        painter->setPen(light);
        painter->drawLine(r - 4 * w, t + 2 * w - 1, r - 3 * w, b - 2 * w);
        painter->drawLine(r - 3 * w, b - 2 * w, r - 5 * w - 2, b - 2 * w);
        painter->setPen(shadow);
        painter->drawLine(r - 5 * w - 1, b - 2 * w - 1, r - 4 * w, t + 2 * w - 2);
    }
    else
    {
        painter->setPen(light);
        painter->drawLine(r - 3 * w, t + 2 * w - 1, r - 4 * w - 1, b - 2 * w + 1);
        painter->setPen(shadow);
        painter->drawLine(r - 4 * w - 1, b - 2 * w, r - 5 * w - 1, t + 2 * w - 1);
        painter->drawLine(r - 5 * w - 1, t + 2 * w - 1, r - 3 * w, t + 2 * w - 1);
    }
}
