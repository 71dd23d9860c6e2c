#pragma once
// Owner of one Win32 kernel handle, for every Windows backend.

#include "platform/Windows_win32.h"

#include <utility>

namespace veltrad {

// Owner of one kernel handle; "none" is always nullptr, whatever the
// function that made it returns on failure.
class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~CHandle() { Reset(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }

    HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset()
    {
        if (m_h != nullptr)
            ::CloseHandle(m_h);
        m_h = nullptr;
    }

private:
    HANDLE m_h = nullptr;
};

}  // namespace veltrad
