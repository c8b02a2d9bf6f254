// Converting dialog units to pixels, so the dialogs keep their proportions in any font.
#pragma once

class QWidget;

// A horizontal dialog unit is a quarter of the font's average character width, a vertical one an
// eighth of its height; the widget's font decides.
int DialogUnitsX(const QWidget* widget, int units);
int DialogUnitsY(const QWidget* widget, int units);
