#pragma once
// What every window of the program shares: the font with Korean glyphs, the
// application icon and the frame of a fixed-size dialog.

#include <QFont>
#include <QIcon>

class QDialog;

namespace veltrad {

// The sans font with Korean glyphs, in the given size.
QFont DialogFont(int pointSize);

// Icon 128 in every size the resources hold.
QIcon ApplicationIcon();

enum class DialogFrame {
    Main,    // caption, minimise and close boxes
    Notice,  // caption and close box
};

// Gives a dialog set up from its form the dialog font (in the form's point
// size) and its frame, and converts the form's dialog units to pixels.
void PrepareTemplateDialog(QDialog& dialog, DialogFrame frame);

}  // namespace veltrad
