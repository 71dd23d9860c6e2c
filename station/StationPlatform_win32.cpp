#include "station/StationPlatform.h"

#include "platform/Windows_win32.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace veltrad {
namespace {

std::string Narrow(const wchar_t* text)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes - 1));
    return out;
}

}  // namespace

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size))
        return {};
    return Narrow(name);
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

// The registry's location paths are not read yet: a tile stays with its COM
// name, which Windows keeps per adapter.
std::string DeviceLocation(const SerialDeviceInfo&) { return {}; }

}  // namespace veltrad
