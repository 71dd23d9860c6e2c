#include "settings/NewFile.h"

#include "platform/Windows_win32.h"

#include <algorithm>

namespace veltrad {

namespace {

std::error_code FromWin32(DWORD code)
{
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return std::error_code(static_cast<int>(code), std::system_category());
}

bool WriteAll(HANDLE file, std::string_view content)
{
    while (!content.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 20));
        if (!::WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0)
            return false;
        content.remove_prefix(written);
    }
    return ::FlushFileBuffers(file) != 0;
}

}  // namespace

bool FolderTakesNewFiles(const std::filesystem::path&) { return true; }

bool WriteNewFile(const std::filesystem::path& path, std::string_view content, std::error_code& ec)
{
    // CREATE_NEW fails on anything already there, a link included.
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ec = FromWin32(::GetLastError());
        return false;
    }
    bool ok = WriteAll(file, content);
    DWORD code = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!::CloseHandle(file) && ok) {
        ok = false;
        code = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(path.c_str());  // ours: created above
        ec = FromWin32(code == ERROR_SUCCESS ? ERROR_WRITE_FAULT : code);
        return false;
    }
    ec.clear();
    return true;
}

}  // namespace veltrad
