// Converting dialog units to pixels, so the dialogs keep their proportions in any font.
#pragma once

class QWidget;

// A horizontal dialog unit is a quarter of the font's average character width, a vertical one an
// eighth of its height; the widget's font decides.
int DialogUnitsX(const QWidget* widget, int units);
int DialogUnitsY(const QWidget* widget, int units);

// Sets a control's geometry from a dialog template's rectangle (x, y, width, height in the units
// of dialog's font), for dialogs laid out control by control rather than by a layout.
void PlaceInDialogUnits(QWidget* control, const QWidget* dialog, int x, int y, int width,
                        int height);
