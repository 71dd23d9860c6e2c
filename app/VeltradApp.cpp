#include "app/VeltradApp.h"

#include "app/Profile.h"
#include "ui/DialogLook.h"
#include "ui/TerminationNotifier.h"
#include "ui/VeltradDlg.h"

namespace veltrad {

CVeltradApp::CVeltradApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kApplicationName));
    setApplicationVersion(QStringLiteral("2.0"));
    // Matches the installed veltrad.desktop, so desktops show the right icon.
    setDesktopFileName(QStringLiteral("veltrad"));
    setWindowIcon(ApplicationIcon());
}

bool CVeltradApp::InitInstance() {
    CProfile profile(CProfile::DefaultPath());
    const int address = profile.GetProfileInt(kFontSection, kAddressKey, kDefaultFontAddress);
    // A file that cannot be written changes nothing visible; later reads
    // simply give the defaults.
    profile.WriteProfileInt(kFontSection, kAddressKey, address);

    CVeltradDlg dialog(profile);
    CTerminationNotifier terminator;
    connect(&terminator, &CTerminationNotifier::TerminationRequested, &dialog,
            &CVeltradDlg::OnEndRequested);
    connect(this, &QGuiApplication::commitDataRequest, &dialog, &CVeltradDlg::OnSessionEnding);
    connect(this, &QCoreApplication::aboutToQuit, &dialog, &CVeltradDlg::OnEndRequested);
    dialog.exec();
    // The dialog ended its run (port closed, worker joined) when it ended;
    // its destructor makes sure once more before anything it used goes.
    return false;
}

}  // namespace veltrad
