// One indicator pane of the main window's status bar: a sunken field with one line of text.
#include "watch/ui/frame/status_pane.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace
{
constexpr int kMargin = 3;
}

CStatusPane::CStatusPane(int width, QWidget* parent) : QWidget(parent), m_width(width)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void CStatusPane::SetText(const QString& text)
{
    if (text == m_text)
        return;
    const int before = TextWidth();
    m_text = text;
    // The pane grows for a longer text (a count of 1,000 or more must show whole) and goes
    // back to its own width when the text shrinks again.
    if (TextWidth() != before)
        updateGeometry();
    update();
}

int CStatusPane::TextWidth() const
{
    // Drawn on one line: a trailing line feed takes no room.
    QString shown = m_text;
    while (shown.endsWith('\n') || shown.endsWith('\r'))
        shown.chop(1);
    return std::max(m_width, fontMetrics().horizontalAdvance(shown));
}

QSize CStatusPane::sizeHint() const
{
    return QSize(TextWidth() + 2 * kMargin, fontMetrics().height() + 4);
}

void CStatusPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // The sunken edge in the palette's shadow and light colours: some styles draw no edge for
    // status bar items at all, and the panes must be told apart.
    qDrawShadePanel(&p, rect(), palette(), true, 1);

    const QRect textRect = rect().adjusted(kMargin, 0, -kMargin, 0);
    p.setClipRect(textRect);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}
