// One indicator pane of the main window's status bar: a sunken field with one line of text.
#include "watch/ui/status_pane.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

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
    m_text = text;
    update();
}

QSize CStatusPane::sizeHint() const
{
    return QSize(m_width + 2 * kMargin, fontMetrics().height() + 4);
}

void CStatusPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.frameShape = QFrame::StyledPanel;
    frame.state |= QStyle::State_Sunken;
    frame.lineWidth = 1;
    style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &p, this);

    const QRect textRect = rect().adjusted(kMargin, 0, -kMargin, 0);
    p.setClipRect(textRect);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}
