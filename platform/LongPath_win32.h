#pragma once
// A path as the wide file functions take it beyond MAX_PATH. The manifest's
// longPathAware is honoured only where the system's LongPathsEnabled is set;
// elsewhere a long path must be absolute and carry the \\?\ prefix (which
// also turns off the parsing of "." and "..", hence the normalising here).

#include "platform/Windows_win32.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace veltrad {

inline std::wstring Win32FilePath(const std::filesystem::path& path)
{
    const std::wstring& plain = path.native();
    if (plain.size() < MAX_PATH || plain.rfind(L"\\\\?\\", 0) == 0)
        return plain;
    std::error_code ec;
    const std::wstring full = std::filesystem::absolute(path, ec).lexically_normal().native();
    if (ec)
        return plain;
    if (full.rfind(L"\\\\", 0) == 0)  // \\server\share\... -> \\?\UNC\server\share\...
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace veltrad
