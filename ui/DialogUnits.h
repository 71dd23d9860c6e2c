#pragma once
// Dialog units: the forms give every control's place and size in the units
// of the dialog templates they were drawn in (x in quarters of the font's
// average character width, y in eighths of its height). Converting with the
// dialog's own font keeps the templates' proportions whatever font is used.

#include <QRect>
#include <QSize>

class QFont;
class QDialog;

namespace veltrad {

struct DialogBaseUnits {
    int cx = 0;  // average width of the letters A-Z and a-z, rounded
    int cy = 0;  // character cell height, whole pixels
};

DialogBaseUnits BaseUnitsFor(const QFont& font);

// Rounds each edge like the platform's MulDiv, so adjacent controls that
// share an edge in dialog units still share it in pixels.
QRect MapDialogRect(const QRect& dlu, DialogBaseUnits units);
QSize MapDialogSize(const QSize& dlu, DialogBaseUnits units);

// Converts a form loaded with dialog-unit geometry to pixels: the dialog's
// size and every direct child's geometry. A drop-down list keeps its natural
// closed height (the template gives the height with the list dropped), an
// icon keeps the icon's size, and group boxes go to the back and let clicks
// through to the controls they frame. The dialog's size is fixed afterwards.
void ApplyDialogUnits(QDialog& dialog);

}  // namespace veltrad
