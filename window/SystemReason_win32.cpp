#include "window/ReasonTexts.h"

#include "platform/Windows_win32.h"

#include <cerrno>

namespace veltrad {
namespace {

// The Win32 codes that mean one of the common reasons; 0 for the rest.
int ErrnoOf(DWORD code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY: return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED: return ENODEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_SEM_TIMEOUT: return ETIMEDOUT;
    default: return 0;
    }
}

}  // namespace

// The system's errors are GetLastError() codes here; one without Korean
// words keeps the system's text and number.
std::string KoreanSystemError(int systemError)
{
    const int errnum = ErrnoOf(static_cast<DWORD>(systemError));
    if (errnum != 0)
        return KoreanErrno(errnum);
    return KoreanErrno(-1, SystemErrorText(systemError));
}

}  // namespace veltrad
