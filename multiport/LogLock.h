#pragma once
// An exclusive lock on an open run log while it may get its header: two
// programs that open one new log at once would both find it empty and both
// write the header. One implementation per platform.

#include <cstdio>

namespace veltrad {

class CLogLock {
public:
    // Waits for the lock; holds nothing when the system refuses it.
    explicit CLogLock(std::FILE* file);
    ~CLogLock();
    CLogLock(const CLogLock&) = delete;
    CLogLock& operator=(const CLogLock&) = delete;

private:
    std::FILE* m_file;
    bool m_locked = false;
};

}  // namespace veltrad
