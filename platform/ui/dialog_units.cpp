// Converting dialog units to pixels, so the dialogs keep their proportions in any font.
#include "platform/ui/dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

int DialogUnitsX(const QWidget* widget, int units)
{
    const QFontMetrics metrics(widget->font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int average = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    return (units * average + 2) / 4;
}

int DialogUnitsY(const QWidget* widget, int units)
{
    const QFontMetrics metrics(widget->font());
    return (units * metrics.height() + 4) / 8;
}

void PlaceInDialogUnits(QWidget* control, const QWidget* dialog, int x, int y, int width,
                        int height)
{
    control->setGeometry(DialogUnitsX(dialog, x), DialogUnitsY(dialog, y),
                         DialogUnitsX(dialog, width), DialogUnitsY(dialog, height));
}
