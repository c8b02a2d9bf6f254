// The grid's column header: paints its own headings and the sort arrow of the sorted column.
#include "watch/ui/document/sort_header.h"

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

int CSortHeader::SortedSectionWidth(const QString& heading) const
{
    // The heading between its 2-blank margins and the arrow's 6 blanks, with a few pixels for
    // advances that round up when the text is laid out.
    return fontMetrics().horizontalAdvance(heading) + 10 * BlankWidth() + 4;
}

// A filled triangle in the 6 blanks kept free at the right of the sorted heading, apex up for
// ascending and down for descending, in the heading's text colour so it shows at a glance
// on any header the style paints.
void CSortHeader::DrawArrow(QPainter* painter, const QRect& rect) const
{
    const int w = BlankWidth();
    const qreal right = rect.right() + 1 - 2 * w; // the platform's right edge is exclusive
    const qreal left = rect.right() + 1 - 5 * w;
    const qreal middle = (left + right) / 2;
    const qreal half = (right - left) / 2;
    const qreal centre = rect.center().y() + 0.5;
    const qreal top = centre - half * 0.6;
    const qreal bottom = centre + half * 0.6;
    QPolygonF triangle;
    if (m_ascending)
        triangle << QPointF(middle, top) << QPointF(right, bottom) << QPointF(left, bottom);
    else
        triangle << QPointF(left, top) << QPointF(right, top) << QPointF(middle, bottom);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(palette().color(QPalette::ButtonText));
    painter->drawPolygon(triangle);
}
