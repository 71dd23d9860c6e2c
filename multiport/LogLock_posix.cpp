#include "multiport/LogLock.h"

#include <sys/file.h>

#include <cerrno>

namespace veltrad {

CLogLock::CLogLock(std::FILE* file) : m_file(file)
{
    int rc = 0;
    do {
        rc = ::flock(::fileno(file), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    m_locked = rc == 0;
}

CLogLock::~CLogLock()
{
    if (m_locked)
        (void)::flock(::fileno(m_file), LOCK_UN);
}

}  // namespace veltrad
