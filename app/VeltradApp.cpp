#include "app/VeltradApp.h"

#include "settings/Profile.h"
#include "ui/DialogLook.h"
#include "ui/TerminationNotifier.h"
#include "ui/VeltradDlg.h"
#include "window/WindowLogic.h"

namespace veltrad {

CVeltradApp::CVeltradApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QString::fromLatin1(kApplicationName));
    setApplicationVersion(QStringLiteral("2.0"));
    // Matches the installed veltrad.desktop, so desktops show the right icon.
    setDesktopFileName(QStringLiteral("veltrad"));
    setWindowIcon(ApplicationIcon());
    UseKoreanToolkitTexts(*this);
}

bool CVeltradApp::InitInstance()
{
    // First, so that a signal from here on ends the program the orderly way.
    CTerminationNotifier terminator;
    CProfile profile(CProfile::DefaultPath());
    TouchStartupSettings(profile);

    CVeltradDlg dialog(profile);
    connect(&terminator, &CTerminationNotifier::TerminationRequested, &dialog, &CVeltradDlg::OnEndRequested);
    connect(this, &QGuiApplication::commitDataRequest, &dialog, &CVeltradDlg::OnSessionEnding);
    connect(this, &QCoreApplication::aboutToQuit, &dialog, &CVeltradDlg::OnEndRequested);
    // The window runs in the application's own loop rather than a loop of
    // its own: quit(), which the desktop session uses to end programs, does
    // nothing while that loop is not running. Quitting closes the window;
    // the window closing, however it closes, quits.
    connect(&dialog, &QDialog::finished, this, &QCoreApplication::quit);
    if (dialog.ShowModal())
        exec();
    // The window ended its run (port closed, worker joined) when it ended;
    // its destructor makes sure once more before anything it used goes.
    return false;
}

}  // namespace veltrad
