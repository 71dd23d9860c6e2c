#include "multiport/RecordFile.h"

#include "platform/ErrorText_win32.h"
#include "platform/LongPath_win32.h"
#include "platform/UniqueHandle_win32.h"
#include "platform/Windows_win32.h"

#include <algorithm>
#include <array>
#include <thread>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

// Every Veltrad program locks one byte far past any records file's end:
// Windows' locks are mandatory, and this one only orders the writers.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

RecordFault FaultOf(DWORD code)
{
    switch (code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return RecordFault::InUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE: return RecordFault::DiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return RecordFault::Denied;
    case ERROR_PATH_NOT_FOUND: return RecordFault::NoFolder;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME: return RecordFault::Link;
    default: return RecordFault::Other;
    }
}

void Fail(RecordError& error, const fs::path& path, RecordFault fault, DWORD code)
{
    error = {path, fault, code != 0 ? Win32ErrorText(code) : std::string()};
}

void Fail(RecordError& error, const fs::path& path, DWORD code) { Fail(error, path, FaultOf(code), code); }

// A name that Windows opens as a device in any folder: CON, PRN, AUX, NUL,
// COM0-9, LPT0-9 (and their superscript digits), also with an extension or
// a colon ("com3.log", "NUL:"), or a path in the device namespace (\\.\).
bool IsDeviceName(const fs::path& path)
{
    if (path.native().rfind(L"\\\\.\\", 0) == 0)
        return true;
    std::wstring name = path.filename().native();
    name = name.substr(0, name.find_first_of(L".:"));
    while (!name.empty() && name.back() == L' ')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; });
    constexpr std::array<const wchar_t*, 6> kNames{L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::find(kNames.begin(), kNames.end(), name) != kNames.end())
        return true;
    const bool numbered = name.size() == 4 && (name.rfind(L"COM", 0) == 0 || name.rfind(L"LPT", 0) == 0);
    const wchar_t digit = numbered ? name[3] : 0;
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

bool Lock(HANDLE file)
{
    const auto deadline = std::chrono::steady_clock::now() + kRecordLockWait;
    for (;;) {
        OVERLAPPED where{};
        where.OffsetHigh = kLockOffsetHigh;
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
            return true;
        if (::GetLastError() != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
            ::SetLastError(ERROR_LOCK_VIOLATION);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

std::optional<RecordWritten> AppendRecords(const fs::path& path, std::string_view header, std::string_view lines,
                                           LinkRule, RecordError& error)
{
    if (IsDeviceName(path)) {
        Fail(error, path, RecordFault::DeviceName, 0);
        return std::nullopt;
    }
    const std::wstring wide = Win32FilePath(path);
    // Looked at before the open: a folder cannot be opened as a file, and a
    // link is not to be followed.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        Fail(error, path, RecordFault::Link, 0);
        return std::nullopt;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Fail(error, path, RecordFault::NotAFile, 0);
        return std::nullopt;
    }
    // Others may read, write and delete meanwhile; one that shares no writing
    // (a spreadsheet) makes the open fail as a sharing violation.
    const CHandle file(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        Fail(error, path, ::GetLastError());
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Fail(error, path, RecordFault::NotAFile, 0);
        return std::nullopt;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        Fail(error, path, RecordFault::Link, 0);
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!Lock(file.Get()) || !::GetFileSizeEx(file.Get(), &size)) {
        Fail(error, path, ::GetLastError());
        return std::nullopt;
    }
    const RecordFileId id{info.dwVolumeSerialNumber,
                          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    const auto end = static_cast<std::uint64_t>(size.QuadPart);
    const bool fresh = end == 0;
    if (lines.empty() && (!fresh || header.empty()))
        return RecordWritten{id, fresh};
    std::string out;
    if (fresh)
        out.append(header);
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED lastAt = At(end - 1);
    if (!fresh && ::ReadFile(file.Get(), &last, 1, &got, &lastAt) && got == 1 && last != '\n')
        out.push_back('\n');
    out.append(lines);
    // At the end the lock keeps for us; one write.
    DWORD written = 0;
    OVERLAPPED at = At(end);
    if (::WriteFile(file.Get(), out.data(), static_cast<DWORD>(out.size()), &written, &at) && written == out.size())
        return RecordWritten{id, fresh};
    const DWORD code = written == 0 ? ::GetLastError() : ERROR_DISK_FULL;
    if (written != 0) {
        LARGE_INTEGER back{};
        back.QuadPart = size.QuadPart;
        if (::SetFilePointerEx(file.Get(), back, nullptr, FILE_BEGIN))
            (void)::SetEndOfFile(file.Get());
    }
    Fail(error, path, code);
    return std::nullopt;
}

}  // namespace veltrad
