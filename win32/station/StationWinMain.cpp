// VeltradStation.exe [JOBFILE]: Veltrad Station, many terminals at once at a
// production line. A job file named on the command line (a shortcut's) is
// opened at the start.

#include "serial/PortMap.h"
#include "image/StandardStreams.h"
#include "settings/Profile.h"
#include "win32/station/StationDlg.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <filesystem>
#include <optional>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    if (!veltrad::OpenStandardStreams())  // no file may take a stream's number
        return 1;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    // ICC_BAR_CLASSES: the tooltips.
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
    // The folder dialog is a COM object, and the shell wants COM for ShellExecute.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    int rc = 1;
    {
        // [Ports] of %APPDATA%\Veltrad.INI, as the main window reads it.
        const veltrad::CProfile settings(veltrad::CProfile::DefaultPath());
        veltrad::CStationDlg station(instance, veltrad::PortMapFromProfile(settings));
        if (station.Create(show)) {
            std::optional<std::filesystem::path> job;
            int argc = 0;
            if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
                if (argc > 1)
                    job = std::filesystem::path(argv[1]);
                LocalFree(argv);
            }
            // The session's end during a start-up message ends the station there.
            if (station.Logic().Begin(settings, job))
                station.Run();
            rc = 0;
        }
        // Ended: every run stopped and every worker joined; the destructor makes sure once more.
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return rc;
}
