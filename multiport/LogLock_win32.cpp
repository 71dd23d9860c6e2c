#include "multiport/LogLock.h"

#include "platform/Windows_win32.h"

#include <io.h>

namespace veltrad {

namespace {

// Windows' locks are mandatory: a locked byte cannot be written by others.
// The lock is taken on one byte far past any log's end, so that it only
// orders the openings and never holds up another program's lines.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

HANDLE HandleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file))); }

}  // namespace

CLogLock::CLogLock(std::FILE* file) : m_file(file)
{
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    m_locked = ::LockFileEx(HandleOf(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) != 0;
}

CLogLock::~CLogLock()
{
    if (!m_locked)
        return;
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    (void)::UnlockFileEx(HandleOf(m_file), 0, 1, 0, &where);
}

}  // namespace veltrad
