#include "image/ImageFile.h"

#include "platform/ErrorText_win32.h"
#include "platform/LongPath_win32.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace veltrad {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool OsError(ImageError& error, const std::filesystem::path& path, DWORD code)
{
    int errnum = EIO;
    std::string reason;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: errnum = ENOENT; break;
    case ERROR_ACCESS_DENIED: errnum = EACCES; break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errnum = EBUSY;
        reason = "is locked by another program";
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        errnum = ENAMETOOLONG;
        reason = "has a path too long for Windows";
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: errnum = ENOMEM; break;
    default: reason = Win32ErrorText(code); break;
    }
    if (reason.empty())
        reason = std::generic_category().message(errnum);
    error = ImageError{path, std::move(reason), errnum};
    return false;
}

bool IsFolder(ImageError& error, const std::filesystem::path& path)
{
    error = ImageError{path, "is a folder, not a file", EISDIR};
    return false;
}

}  // namespace

CImageFile::~CImageFile() { Close(); }

void CImageFile::Close() noexcept
{
    if (m_handle != -1)
        ::CloseHandle(AsHandle(m_handle));  // read-only: nothing is lost when close fails
    m_handle = -1;
}

bool CImageFile::Open(const std::filesystem::path& path, ImageError& error)
{
    Close();
    m_path = path;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return IsFolder(error, path);

    const HANDLE h = ::CreateFileW(Win32FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return OsError(error, path, ::GetLastError());
    m_handle = reinterpret_cast<std::intptr_t>(h);
    // Devices (NUL, CON, COM ports) and pipes open like files; only a disk
    // file is an image.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        Close();
        error = ImageError{path, "is a device or a pipe, not a regular file", 0};
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        const DWORD code = ::GetLastError();
        Close();
        return OsError(error, path, code);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Close();
        return IsFolder(error, path);
    }
    m_size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

std::ptrdiff_t CImageFile::Read(std::uint8_t* buffer, std::size_t count, ImageError& error)
{
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    if (!::ReadFile(AsHandle(m_handle), buffer, want, &got, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_HANDLE_EOF)
            return 0;
        OsError(error, m_path, code);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

}  // namespace veltrad
