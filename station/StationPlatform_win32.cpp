#include "station/StationPlatform.h"

#include "station/StationJob.h"

#include "platform/Windows_win32.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace veltrad {

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size))
        return {};
    // In UTF-8 by the path's own conversion.
    return Utf8FromPath(std::filesystem::path(name));
}

std::filesystem::path DefaultRecordsFolder()
{
    PWSTR folder = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)))
        path = std::filesystem::path(folder) / L"Veltrad" / L"records";
    ::CoTaskMemFree(folder);
    return path;
}

// The port's location path (serial/: SetupAPI's), which names the USB socket.
std::string DeviceLocation(const SerialDeviceInfo& device) { return device.location; }

}  // namespace veltrad
