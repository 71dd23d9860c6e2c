#pragma once
// What every window of the program shares: the toolkit's own texts in
// Korean, the font with Korean glyphs, the application icon and the frame
// of a fixed-size dialog.

#include <QFont>
#include <QIcon>
#include <QString>

#include <string>

class QCoreApplication;
class QDialog;

namespace veltrad {

// The toolkit's own texts (Yes, No, Cancel, the file dialog) in Korean,
// whatever the system's language: the windows are Korean. Qt's translations
// (Debian: qt6-translations-l10n) and the Korean locale, for good.
void UseKoreanToolkitTexts(QCoreApplication& application);

// Our texts are UTF-8; Qt's are UTF-16.
inline QString FromUtf8(const std::string& text) { return QString::fromUtf8(text); }

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
