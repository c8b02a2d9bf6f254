// The application's own pictures, drawn with QPainter: icon, splash picture, toolbar glyphs.
#include "watch/ui/frame/resources/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace
{

const QColor kNavy(18, 38, 74);
const QColor kTeal(22, 118, 132);
const QColor kSignal(96, 220, 150);

// An open eye centred in rect: the watcher of the name.
void PaintEye(QPainter& p, const QRectF& rect, const QColor& white, const QColor& iris)
{
    const QPointF c = rect.center();
    const qreal w = rect.width();
    const qreal h = rect.height();

    QPainterPath lids;
    lids.moveTo(c.x() - w / 2, c.y());
    lids.quadTo(c.x(), c.y() - h, c.x() + w / 2, c.y());
    lids.quadTo(c.x(), c.y() + h, c.x() - w / 2, c.y());
    p.setPen(Qt::NoPen);
    p.setBrush(white);
    p.drawPath(lids);

    p.save();
    p.setClipPath(lids);
    const qreal r = h * 0.42;
    QRadialGradient g(c, r);
    g.setColorAt(0.0, iris.lighter(150));
    g.setColorAt(1.0, iris.darker(140));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    p.setBrush(QColor(10, 20, 30));
    p.drawEllipse(c, r * 0.45, r * 0.45);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(QPointF(c.x() - r * 0.3, c.y() - r * 0.3), r * 0.16, r * 0.16);
    p.restore();
}

} // namespace

QPixmap DrawApplicationIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal s = size;
    const QRectF frame(s * 0.03, s * 0.03, s * 0.94, s * 0.94);
    QLinearGradient bg(frame.topLeft(), frame.bottomRight());
    bg.setColorAt(0.0, kTeal);
    bg.setColorAt(1.0, kNavy);
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(frame, s * 0.18, s * 0.18);

    // Process lines of a listing behind the eye; dropped at small sizes where they blur.
    if (size >= 32)
    {
        p.setBrush(QColor(kSignal.red(), kSignal.green(), kSignal.blue(), 110));
        for (int i = 0; i < 4; ++i)
        {
            const qreal y = s * (0.16 + 0.2 * i);
            if (i == 1 || i == 2)
                continue;
            p.drawRoundedRect(QRectF(s * 0.16, y, s * (0.68 - 0.12 * i), s * 0.06), s * 0.03,
                              s * 0.03);
        }
    }
    PaintEye(p, QRectF(s * 0.1, s * 0.3, s * 0.8, s * 0.4), QColor(245, 248, 250), kTeal);
    return pixmap;
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(DrawApplicationIcon(size));
    return icon;
}

QPixmap DrawSplashPicture()
{
    QPixmap pixmap(kSplashWidth, kSplashHeight);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QRectF all(0, 0, kSplashWidth, kSplashHeight);
    QLinearGradient bg(all.topLeft(), all.bottomRight());
    bg.setColorAt(0.0, kNavy);
    bg.setColorAt(1.0, kTeal.darker(120));
    p.fillRect(all, bg);

    // A faint process listing scrolling behind the title.
    QFont mono("DejaVu Sans Mono");
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(9);
    p.setFont(mono);
    p.setPen(QColor(kSignal.red(), kSignal.green(), kSignal.blue(), 45));
    static const char* const kLines[] = {
        "USER   PID %CPU TT  STARTED    TIME COMMAND",
        "root     1  0.0 ?   08:01   0:02.11 init",
        "daemon 212  0.0 ?   08:01   0:00.40 cron",
        "root   388  0.1 ?   08:02   0:10.75 sshd",
        "lp     401  0.0 ?   08:02   0:00.03 lpd",
        "kim   1024  2.5 p0  09:14   1:23.50 make -j2",
        "kim   1031 12.0 p0  09:14   0:41.02 cc1plus",
        "root  1187  0.0 ?   09:30   0:00.01 telnetd",
        "kim   1190  0.3 p1  09:30   0:00.20 ps auxw",
    };
    int y = 14;
    for (const char* line : kLines)
    {
        p.drawText(QPointF(150, y), QString::fromLatin1(line).left(34));
        y += 11;
    }

    // The icon, large, on the left.
    p.drawPixmap(24, 40, DrawApplicationIcon(112));

    QFont title("DejaVu Sans");
    title.setBold(true);
    title.setPixelSize(38);
    p.setFont(title);
    p.setPen(QColor(245, 248, 250));
    p.drawText(QRectF(150, 48, 190, 48), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Vigilor"));

    QFont sub("DejaVu Sans");
    sub.setPixelSize(12);
    p.setFont(sub);
    p.setPen(kSignal);
    p.drawText(QRectF(152, 96, 190, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Watching remote processes"));

    sub.setPixelSize(10);
    p.setFont(sub);
    p.setPen(QColor(200, 214, 226));
    p.drawText(QRectF(152, 160, 180, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Version 1.0  \u00b7  Korvane"));

    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, kSplashWidth - 1, kSplashHeight - 1));
    return pixmap;
}

QPixmap DrawToolbarGlyph(EToolbarGlyph glyph)
{
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(QColor(40, 40, 40), 1);

    switch (glyph)
    {
    case EToolbarGlyph::New:
    {
        QPainterPath page;
        page.moveTo(3.5, 0.5);
        page.lineTo(9.5, 0.5);
        page.lineTo(12.5, 3.5);
        page.lineTo(12.5, 14.5);
        page.lineTo(3.5, 14.5);
        page.closeSubpath();
        p.setPen(outline);
        p.setBrush(Qt::white);
        p.drawPath(page);
        p.drawLine(QPointF(9.5, 0.5), QPointF(9.5, 3.5));
        p.drawLine(QPointF(9.5, 3.5), QPointF(12.5, 3.5));
        break;
    }
    case EToolbarGlyph::Open:
    {
        p.setPen(outline);
        p.setBrush(QColor(230, 190, 70));
        p.drawRect(QRectF(1.5, 3.5, 12, 10));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
        p.setBrush(QColor(250, 220, 110));
        QPainterPath flap;
        flap.moveTo(3.5, 6.5);
        flap.lineTo(15.5, 6.5);
        flap.lineTo(13.5, 13.5);
        flap.lineTo(1.5, 13.5);
        flap.closeSubpath();
        p.drawPath(flap);
        break;
    }
    case EToolbarGlyph::Save:
    {
        p.setPen(outline);
        p.setBrush(QColor(60, 90, 170));
        p.drawRect(QRectF(1.5, 0.5, 13, 14));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 0.5, 9, 5));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(4.5, 9.5, 7, 5));
        break;
    }
    case EToolbarGlyph::Watch:
        PaintEye(p, QRectF(0.5, 3, 15, 9), QColor(250, 250, 250), kTeal);
        p.setPen(QPen(QColor(40, 40, 40), 0.8));
        p.setBrush(Qt::NoBrush);
        {
            QPainterPath lids;
            lids.moveTo(0.5, 7.5);
            lids.quadTo(8, -1.5, 15.5, 7.5);
            lids.quadTo(8, 16.5, 0.5, 7.5);
            p.drawPath(lids);
        }
        break;
    case EToolbarGlyph::Stop:
    {
        p.setPen(QPen(QColor(120, 0, 0), 1));
        p.setBrush(QColor(210, 40, 40));
        QPolygonF octagon;
        for (const QPointF& pt : {QPointF(5, 1), QPointF(11, 1), QPointF(15, 5), QPointF(15, 10),
                                  QPointF(11, 14), QPointF(5, 14), QPointF(1, 10), QPointF(1, 5)})
            octagon << pt;
        p.drawPolygon(octagon);
        p.setPen(QPen(Qt::white, 1.6));
        p.drawLine(QPointF(5.5, 7.5), QPointF(10.5, 7.5));
        break;
    }
    }
    return pixmap;
}
