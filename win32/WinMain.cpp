// Veltrad.exe: the start-up touches the settings, then the main window runs
// once; when it ends, the program ends. Command-line arguments are ignored.

#include "settings/Profile.h"
#include "image/StandardStreams.h"
#include "win32/VeltradDlg.h"
#include "window/WindowLogic.h"
#include "win32/WinApi.h"

#include <commctrl.h>

#include <utility>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    if (!veltrad::OpenStandardStreams())  // no file may take a stream's number
        return 1;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    // ICC_BAR_CLASSES: the port list's tooltip.
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    veltrad::CProfile profile(veltrad::CProfile::DefaultPath());  // %APPDATA%\Veltrad.INI
    veltrad::TouchStartupSettings(profile);

    // The dialog stops the run and joins its worker before it returns; its
    // result means nothing more to the program.
    veltrad::CVeltradDlg dialog(instance, std::move(profile));
    dialog.DoModal();
    return 0;
}
