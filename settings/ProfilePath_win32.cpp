#include "settings/Profile.h"

#include "settings/NewFile.h"
#include "settings/ProfilePath_win32.h"

#include "platform/Windows_win32.h"
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace veltrad {

namespace {

// The user's roaming application-data folder; empty when the system cannot
// say (then %APPDATA% is asked).
std::filesystem::path RoamingAppData()
{
    PWSTR folder = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder)))
        result = std::filesystem::path(folder);
    ::CoTaskMemFree(folder);  // also after a failure, as the call requires
    if (result.empty()) {
        if (const wchar_t* env = ::_wgetenv(L"APPDATA"); env != nullptr && env[0] != L'\0')
            result = std::filesystem::path(env);
    }
    return result;
}

std::filesystem::path LocalAppData()
{
    PWSTR folder = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &folder)))
        result = std::filesystem::path(folder);
    ::CoTaskMemFree(folder);
    return result;
}

std::filesystem::path WindowsDirectory()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = ::GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        buffer.resize(length);  // too small: length is the size needed
    }
}

// Copies `from` to `to` through a new sibling file and a rename, so that a
// copy cut short never stands as the settings file and nothing found under
// the sibling's name is written through.
bool CopyWhole(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::error_code ec;
    std::filesystem::create_directories(to.parent_path(), ec);
    if (ec)
        return false;
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return false;
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return false;
    const std::optional<std::filesystem::path> temp = WriteNewSibling(to, content, ec);
    if (!temp)
        return false;
    // MoveFileEx without REPLACE_EXISTING: a file that another start has put
    // there meanwhile wins, and ours is dropped.
    if (!::MoveFileExW(temp->c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        std::filesystem::remove(*temp, ec);
        return std::filesystem::exists(to, ec);
    }
    return true;
}

}  // namespace

// Older installations kept Veltrad.INI in the Windows directory, which a
// program without administrator rights can no longer write. The file now
// lives in the user's roaming folder; on the first start there, a file left
// in an older place is copied over so the operator keeps the saved port.
// When that copy cannot be made, the old file is still read.
std::filesystem::path ProfilePathIn(const std::filesystem::path& roaming,
                                    const std::vector<std::filesystem::path>& olderFolders)
{
    std::error_code ec;
    std::filesystem::path legacy;
    for (const std::filesystem::path& folder : olderFolders) {
        if (!folder.empty() && std::filesystem::is_regular_file(folder / kProfileFileName, ec)) {
            legacy = folder / kProfileFileName;
            break;
        }
    }
    if (roaming.empty()) {
        if (!legacy.empty())
            return legacy;
        const auto known =
            std::find_if(olderFolders.begin(), olderFolders.end(), [](const auto& f) { return !f.empty(); });
        return known == olderFolders.end() ? std::filesystem::path(kProfileFileName) : *known / kProfileFileName;
    }

    const std::filesystem::path file = roaming / kProfileFileName;
    if (std::filesystem::exists(file, ec) || ec || legacy.empty())
        return file;
    return CopyWhole(legacy, file) ? file : legacy;
}

// Where UAC's file virtualization put what a 32-bit program without a
// manifest wrote to the Windows directory: %LOCALAPPDATA%\VirtualStore
// followed by that directory's path without its drive.
std::filesystem::path VirtualStoreOf(const std::filesystem::path& localAppData, const std::filesystem::path& windows)
{
    if (localAppData.empty() || windows.empty())
        return {};
    return localAppData / "VirtualStore" / windows.relative_path();
}

std::filesystem::path CProfile::DefaultPath()
{
    const std::filesystem::path windows = WindowsDirectory();
    // The real folder first: a file there was written with rights to it.
    return ProfilePathIn(RoamingAppData(), {windows, VirtualStoreOf(LocalAppData(), windows)});
}

}  // namespace veltrad
